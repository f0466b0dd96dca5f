// SPDX-License-Identifier: MIT
// The self-play configuration carried in the player's own data, and the start of playback
// from a command line: combination, parse, and the list of movie names.
#pragma once

#include <cstddef>

#include "player/command_text.h"
#include "player/settings.h"
#include "selfplay/field.h"

extern SelfPlayField SelfPlay;

// The movie names of one run. CommandLine is the text the switches were parsed from (the
// field's text for a self-play copy), kept to fill the list again for list looping.
struct PlayList {
    char* CommandLine = nullptr;
    char Remaining[kNameListCapacity] = {};
    char Current[kMovieNameCapacity] = {};
    bool MultipleMovies = false;
};

// Combines the self-play configuration with `commandLine`, parses the switches, applies
// /@ and takes the first name off the list. False, after the usage message where one is
// due, when nothing is to be played.
bool StartPlayList(char* commandLine, PlayList& list);
// Takes the next name off Remaining into Current (empty when there is none).
void TakeNextName(PlayList& list);
// List looping: Remaining := the names of the command line again.
void RefillPlayList(PlayList& list);

// What a movie name means. A name starting with ':' is a byte offset into the player's own
// file; any other is a file name, ".Zmb" added when its last component has no '.'.
constexpr char kMovieExtension[] = ".Zmb";
bool NamesOwnFile(const char* name);
// False when the extension does not fit in `capacity`.
bool AddMovieExtension(char* name, std::size_t capacity);
// The player's own file, open for sequential reading at the name's offset; the caller
// closes it after the movie. INVALID_HANDLE_VALUE when it cannot be opened or placed.
HANDLE OpenOwnFileAt(const char* name);
