// SPDX-License-Identifier: MIT
// Reading the debug setting from the user's profile, once per process.
#include "decoder/system/debug_setting.h"

#include "core/debug.h"
#include "platform/win32.h"

#include <cstdint>

void DebugReadSetting() {
    if (DebugSettingKept()) return;
    DebugKeepSetting(static_cast<std::uint32_t>(GetProfileIntA("Zambrel", "Debug", 0)),
                     [](const char* text) { OutputDebugStringA(text); });
}
