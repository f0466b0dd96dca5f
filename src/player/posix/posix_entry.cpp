// SPDX-License-Identifier: MIT
// The POSIX entry: arguments into the command line, and the run's outcome as exit status.
#include <cstdio>

#include "player/entry.h"
#include "player/posix_args.h"
#include "player/settings.h"

namespace {

constexpr int kUsageStatus = 2;

}  // namespace

int RunPlayerWithArguments(const std::vector<std::string>& args) {
    PosixCommand command = ReadPosixArguments(args);
    switch (command.Request) {
        case PosixRequest::Help:
            std::fputs(PosixUsageText().c_str(), stdout);
            return 0;
        case PosixRequest::Version:
            std::fputs(PosixVersionText().c_str(), stdout);
            return 0;
        case PosixRequest::UsageError:
            std::fprintf(stderr, "zambply: %s (see zambply --help)\n", command.Problem.c_str());
            return kUsageStatus;
        case PosixRequest::Play:
            break;
    }
    std::vector<char> commandLine(command.CommandLine.begin(), command.CommandLine.end());
    commandLine.push_back('\0');
    RunPlayer(commandLine.data());
    if (Outcome.UsageShown && !Outcome.UsageFault.empty())
        std::fprintf(stderr, "zambply: %s (see zambply --help)\n", Outcome.UsageFault.c_str());
    return ExitStatusOf(Outcome);
}
