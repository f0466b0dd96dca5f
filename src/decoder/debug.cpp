// SPDX-License-Identifier: MIT
#include "decoder/debug.h"

#include <atomic>
#include <cstdio>

#include "platform/win32.h"

namespace {
// Zero until read; the read value is kept with 0x1000 added so that it is never zero.
std::atomic<std::uint32_t> debugSetting{0};
}  // namespace

void DebugReadSetting() {
    if (debugSetting.load() != 0) return;
    debugSetting.store(GetProfileIntA("Zambrel", "Debug", 0) + 0x1000u);
}

bool DebugOn() { return (debugSetting.load() & 0xFF) == 1; }

void DebugText(const char* text) {
    if (DebugOn()) OutputDebugStringA(text);
}

void DebugNumber(std::int64_t number) {
    if (!DebugOn()) return;
    char digits[24];
    std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(number));
    OutputDebugStringA(digits);
}

void DebugForgetSetting() { debugSetting.store(0); }
