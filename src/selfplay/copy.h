// SPDX-License-Identifier: MIT
// Making a self-playing copy: the plain player's file with a movie appended and its
// self-play field naming where the movie starts and which switches play it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Where the self-play field starts in a program file's bytes: the one place where the tag
// is followed, at the field's size, by the end marker. False, with the reason, when there
// is none or more than one.
bool FindSelfPlayField(const std::vector<char>& program, std::size_t* at, std::string* error);

// The copy's bytes: `player` with its field set to ":OFFSET" (the player's length) and the
// switches, then `movie`. False, with the reason, when the player is not a plain player or
// the configuration does not fit.
bool MakeSelfPlayCopy(const std::vector<char>& player, const std::vector<char>& movie,
                      const std::string& switches, std::vector<char>* copy, std::string* error);
