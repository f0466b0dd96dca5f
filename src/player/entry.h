// SPDX-License-Identifier: MIT
// The program entry: the command line through the controller exchange into the playback
// loop, and the report when playback is over.
#pragma once

#include <string>
#include <vector>

// The entry for a command-line text without the program name. Always 0.
int RunPlayer(char* commandLine);
// The POSIX entry: the arguments after the program name turned into the command-line text
// first (--help and --version print their texts instead). Returns the exit status: 0 when
// every movie played, 1 when one could not be opened or shown, 2 for a usage error.
int RunPlayerWithArguments(const std::vector<std::string>& args);
