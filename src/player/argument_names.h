// SPDX-License-Identifier: MIT
// Movie names that stood in for arguments the command line could not carry.
#pragma once

#include <cstddef>

// Replaces a stand-in of ReadPosixArguments in `name` (a zero-terminated movie name of
// `capacity` bytes) with the name it stands for. Any other name is left as it is. The
// Windows entry takes its command line as it comes, so there nothing stands in.
void ExpandArgumentName(char* name, std::size_t capacity);
