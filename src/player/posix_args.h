// SPDX-License-Identifier: MIT
// The POSIX entry's argument vector as the player's own command-line text, where '/'
// starts a switch and '\' separates folders.
#pragma once

#include <string>
#include <vector>

// Whether the arguments ask for the usage message (--help), which then exits with 0.
bool AsksForHelp(const std::vector<std::string>& args);

// The command line for the arguments after the program name:
//   "-L3", "-S", "-@", "-#5": a '-' before a letter, '@' or '#' becomes '/';
//   an argument starting with '/' is a file name when such a file exists (or exists with
//     the movie extension added) and switch text otherwise ("/L3", "/S/P");
//   anything else is a movie name, each '/' written as '\', in double quotes when it holds
//     a blank.
// Arguments are joined with one blank.
std::string CommandLineFromArguments(const std::vector<std::string>& args);

// The usage text for a terminal: the usage message and how the arguments are read.
std::string PosixUsageText();
