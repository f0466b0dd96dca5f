// SPDX-License-Identifier: MIT
// The self-play configuration carried in the player's own data, and the start of playback
// from a command line: combination, parse, and the list of movie names.
#pragma once

#include <cstddef>

#include "player/command_text.h"
#include "player/settings.h"

// The field is found in the program file by its tag with the end marker at a fixed
// distance after it; zmbtool writes a copy's configuration into it.
constexpr char kSelfPlayTag[8] = {'S', 'E', 'L', 'F', 'P', 'L', 'A', 'Y'};
constexpr char kSelfPlayEnd[8] = {'Z', 'A', 'M', 'B', 'R', 'E', 'L', '!'};
constexpr std::size_t kSelfPlayConfigCapacity = 208;

struct SelfPlayField {
    char Tag[8];                           // "SELFPLAY"
    char Config[kSelfPlayConfigCapacity];  // ":OFFSET switches", zero-filled; empty in a plain
                                           // player
    char End[8];                           // "ZAMBREL!", never read
};
static_assert(sizeof(SelfPlayField) == 224, "the field is found in the program file by its size");

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
