// SPDX-License-Identifier: MIT
// The POSIX entry's argument vector as the player's own command-line text, where '/'
// starts a switch and '\' separates folders.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "player/argument_names.h"

// What the arguments ask the POSIX entry to do.
enum class PosixRequest { Play, Help, Version, UsageError };

// Where messages go: chosen by the arguments or the environment, or from how the player
// was started.
enum class MessageChoice { Automatic, Box, Terminal };

struct PosixCommand {
    PosixRequest Request = PosixRequest::Play;
    MessageChoice Messages = MessageChoice::Automatic;  // --messages=box|terminal
    std::string CommandLine;                            // for Play
    std::string Problem;  // for UsageError: what was wrong, for standard error
};

// Reads the arguments after the program name:
//   "--help" and "--version" ask for those texts; "--messages=box" or "=terminal" chooses
//     where messages go; "--" ends the switches, so every later
//     argument is a movie name; any other "--word" is a usage error;
//   "-L3", "-S", "-@", "-#5": a '-' before a letter, '@' or '#' becomes '/';
//   an argument starting with '/' is a file name when such a file exists (or exists with
//     the movie extension added), switch text when it is made only of switches ("/L3",
//     "/S/P", "/F-66"), and otherwise a movie name ("/tmp/missing.zmb");
//   a movie name has each '/' written as '\' and is put in double quotes when it holds a
//     blank. A name holding a '"', which the command line cannot quote, is put in it as a
//     stand-in that ExpandArgumentName turns back into the name.
// Arguments are joined with one blank; empty ones are left out.
PosixCommand ReadPosixArguments(const std::vector<std::string>& args);

// The usage text for a terminal: the usage message, how the arguments are read, the keys
// and the exit statuses.
std::string PosixUsageText();
// The --version text: the program, the project's version and the player's own.
std::string PosixVersionText();
