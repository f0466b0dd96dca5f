// SPDX-License-Identifier: MIT
// The program entry: the command line through the controller exchange into the playback
// loop, and the report when playback is over.
#pragma once

#include <string>
#include <vector>

// The entry for a command-line text without the program name. Always 0.
int RunPlayer(char* commandLine);
// The POSIX entry: the arguments after the program name turned into the command-line text
// first (--help prints the usage instead). Always 0.
int RunPlayerWithArguments(const std::vector<std::string>& args);
