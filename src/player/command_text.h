// SPDX-License-Identifier: MIT
// The text rules of the player's command line: blanks, capacities and movie names.
#pragma once

#include <cstddef>

// Text capacities, zero included. Longer input is refused with the usage message rather
// than cut, because a cut name would open some other file. The Windows program keeps the
// sizes the programs that start it know; on POSIX the shell's own limits are the only
// ones a user meets: a path of PATH_MAX and its extension, and the arguments' 128 KiB.
#ifdef _WIN32
constexpr std::size_t kCommandLineCapacity = 244;
constexpr std::size_t kNameListCapacity = 112;
constexpr std::size_t kMovieNameCapacity = 128;
#else
constexpr std::size_t kCommandLineCapacity = 131072;
constexpr std::size_t kNameListCapacity = 131072;
constexpr std::size_t kMovieNameCapacity = 4096 + 8;
#endif
constexpr std::size_t kParentTitleCapacity = 32;  // 31 characters

// A blank, here and in every command-line rule, is any character from 1 to 32.
// Bytes 128 to 255 are ordinary characters, so that names in UTF-8 survive.
inline bool IsBlank(char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte >= 1 && byte <= 32;
}

// Trims blanks at both ends of a zero-terminated text, in place.
void TrimBlanks(char* text);

// Moves the first movie name of `list` into `name` (at most nameCapacity - 1 characters;
// false and an empty name when it does not fit) and leaves the rest in `list`.
bool SplitFirstName(char* name, std::size_t nameCapacity, char* list);
// Whether the last path component of `name` has a '.' in it.
bool HasExtension(const char* name);
