// SPDX-License-Identifier: MIT
// Movie names as the user gave them: those that stood in for arguments the command line
// could not carry, and names that exist exactly as given.
#pragma once

#include <cstddef>
#include <string>

#include "platform/win32.h"

// Replaces a stand-in of ReadPosixArguments in `name` (a zero-terminated movie name of
// `capacity` bytes) with the name it stands for, and returns true: the name is then exactly
// the argument the user gave. Any other name is left as it is (false). The Windows entry
// takes its command line as it comes, so there nothing stands in.
bool ExpandArgumentName(char* name, std::size_t capacity);

// How a movie name that names something as the user gave it is opened.
struct GivenName {
    enum class Kind {
        NotGiven,  // nothing exists under that name: the command line's rules apply
        ByName,    // a file the platform's own open reads under the name: open it so
        ByHandle,  // Handle holds the movie (a pipe read whole, a name the open would alter)
        Refused,   // it exists but cannot be played: Why says why
    };
    Kind How = Kind::NotGiven;
    HANDLE Handle = INVALID_HANDLE_VALUE;  // ByHandle: for ZAMB_FILE_HANDLE; the caller closes it
    std::string Why;
};

// `name` is a command-line name (after ExpandArgumentName, whose result is `exact`). On
// POSIX a name that exists as given is opened as given: no extension added, no '\'
// translated; "-" is the standard input. A non-seekable input is read whole into memory,
// up to kGivenStreamLimit bytes (256 MiB). Windows: always NotGiven.
GivenName OpenGivenName(const char* name, bool exact);
constexpr std::size_t kGivenStreamLimit = std::size_t{256} << 20;

// The name for messages and the window's title, as the user typed it: on POSIX the
// command line's '\' between folders is '/' again. Before any extension is added.
std::string NameAsGiven(const char* name, bool exact);

// The player window's caption while a movie plays. On Windows it stays the application's
// name, which other programs find the player's window by; elsewhere it names the movie, as
// the title is what tells a desktop's windows apart.
std::string MovieCaption(const std::string& shown_name);

// Why the movie of this name could not be opened, for a line beside the message box: no
// such file, a folder, no permission, empty, not a movie, cut short. Empty where it cannot
// be told (Windows).
std::string WhyNotOpened(const char* name, bool exact);
