// SPDX-License-Identifier: MIT
// zmbtool's subcommands register themselves here, one source file each.
#pragma once

#include <string>
#include <vector>

namespace zmbtool {

struct Command {
    const char* name;
    const char* summary;  // one line for `zmbtool --help`
    // Runs with the arguments after the command's name; returns the exit status.
    int (*run)(const std::vector<std::string>& args);
    // Commands that write files take --force (-f) to replace existing ones.
    bool writesFiles = false;
};

// Defined at namespace scope in a command's file: `static zmbtool::Registration r{{...}};`
struct Registration {
    explicit Registration(const Command& command);
};

const std::vector<Command>& Commands();

// "zmbtool: " + message on standard error; returns 1, the status of every failure.
int Fail(const std::string& message);

// The status of a run that met a damaged movie and still wrote (or described) everything
// before the damage; scripts tell it from 1, a movie or output that could not be used.
inline constexpr int kSalvaged = 3;

}  // namespace zmbtool
