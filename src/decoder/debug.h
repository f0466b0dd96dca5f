// SPDX-License-Identifier: MIT
// Debug output of the decoder and the sound drivers, switched by the profile.
#pragma once

#include <cstdint>

// Reads the "Debug" value of the "Zambrel" profile section the first time it is called in
// the process; later calls keep the first answer.
void DebugReadSetting();
// True when the setting's low byte is 1 (false until DebugReadSetting has run).
bool DebugOn();
// Text and signed decimal numbers, written piece by piece when debug output is on.
void DebugText(const char* text);
void DebugNumber(std::int64_t number);

// Test seam: forget the setting so that the next DebugReadSetting reads the profile again.
void DebugForgetSetting();
