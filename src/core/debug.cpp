// SPDX-License-Identifier: MIT
// The process-wide debug setting and the debug output it switches.
#include "core/debug.h"

#include <atomic>
#include <cstdio>

namespace {
// Zero until kept; the kept value has 0x1000 added so that it is never zero.
std::atomic<std::uint32_t> debugSetting{0};
// Where the text goes: the platform's debug output, which whoever keeps the setting names, so
// that the modules writing debug text need no platform of their own.
std::atomic<DebugWriter> debugWriter{nullptr};

void Write(const char* text) {
    if (const DebugWriter write = debugWriter.load()) write(text);
}
}  // namespace

void DebugKeepSetting(std::uint32_t value, DebugWriter writer) {
    // Every keeper names the same output, so a second one changes nothing.
    debugWriter.store(writer);
    std::uint32_t unset = 0;
    debugSetting.compare_exchange_strong(unset, value + 0x1000u);
}

bool DebugSettingKept() {
    return debugSetting.load() != 0;
}

bool DebugOn() {
    return (debugSetting.load() & 0xFF) == 1;
}

void DebugText(const char* text) {
    if (DebugOn()) Write(text);
}

void DebugNumber(std::int64_t number) {
    if (!DebugOn()) return;
    char digits[24];
    std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(number));
    Write(digits);
}

void DebugForgetSetting() {
    debugSetting.store(0);
}
