// SPDX-License-Identifier: MIT
// Debug output of the decoder and the sound drivers, switched by a process-wide setting.
#pragma once

#include <cstdint>

// Writes one piece of debug text.
using DebugWriter = void (*)(const char* text);
// Keeps `value` as the debug setting unless one is kept already: the first answer holds for
// the rest of the process. The text goes to `writer`.
void DebugKeepSetting(std::uint32_t value, DebugWriter writer);
// True once a setting has been kept.
bool DebugSettingKept();
// True when the setting's low byte is 1 (false until a setting has been kept).
bool DebugOn();
// Text and signed decimal numbers, written piece by piece when debug output is on.
void DebugText(const char* text);
void DebugNumber(std::int64_t number);

// Test seam: forget the setting so that the next one is kept again, for tests of both
// settings in one process. It stays beside the setting, which is this file's alone; the
// shared library does not export it.
void DebugForgetSetting();
