// SPDX-License-Identifier: MIT
// The switch parser, which fills Settings from the command line.
#pragma once

#include <cstdint>

// Takes every recognised switch out of `text` (in place) into Settings. False, after the
// usage message, when anything that looks like a switch is left; what is left otherwise
// is the list of movie names.
bool ParseSwitches(char* text);

// Switch search shared by ParseSwitches and the entry's /#. The numeric form takes the
// first "/L" followed by a digit or by '-' and a digit, and answers its signed value
// (`fallback` when there is none); the flag form takes the first "/L" followed by a
// character at or below '/' and answers whether there was one.
std::int32_t TakeNumericSwitch(char* text, char letter, std::int32_t fallback,
                               bool* found = nullptr);
bool TakeFlagSwitch(char* text, char letter);
