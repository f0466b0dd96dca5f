// SPDX-License-Identifier: MIT
// Runs the zmbtool under test as a user would, from a shell, in a folder of the test's own,
// and collects what it says.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
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

// A fresh folder for each test, named for `kind` and the process so that two runs of the
// tests at once never share one, and removed with everything in it afterwards.
class ToolFolderTest : public ::testing::Test {
  protected:
    explicit ToolFolderTest(const char* kind)
        : folder_(std::filesystem::temp_directory_path() /
                  ("zmbtool-" + std::string(kind) + "-" + std::to_string(::getpid()))) {}
    void SetUp() override {
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }
    std::string Path(const std::string& name) const { return (folder_ / name).string(); }

    const std::filesystem::path folder_;
};
