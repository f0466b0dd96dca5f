// SPDX-License-Identifier: MIT
// Runs the zmbtool under test as a user would, from a shell, and collects what it says.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

#ifndef ZMBTOOL_PATH
#error "ZMBTOOL_PATH must name the zmbtool binary under test"
#endif

struct RunResult {
    int status = -1;
    std::string output;  // standard output and standard error together
};

// ARGUMENTS is shell text, so callers quote paths that may hold blanks.
inline RunResult RunTool(const std::string& arguments) {
    std::string command = std::string(ZMBTOOL_PATH) + " " + arguments + " 2>&1";
    RunResult result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return result;
    std::array<char, 4096> chunk{};
    while (std::size_t n = std::fread(chunk.data(), 1, chunk.size(), pipe))
        result.output.append(chunk.data(), n);
    int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}
