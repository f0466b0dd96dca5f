// SPDX-License-Identifier: MIT
// The program entry: the command line through the controller exchange into the playback
// loop, and the report when playback is over.
#include "player/entry.h"

#include <cstdio>

#include "display/window.h"
#include "player/controller.h"
#include "player/playback.h"
#include "player/posix_args.h"
#include "player/settings.h"

int RunPlayer(char* commandLine) {
    Outcome = RunOutcome{};
    char working[kCommandLineCapacity];
    // A command line that does not fit plays nothing, but a controller waiting for the
    // report must still get it.
    if (PrepareCommandLine(commandLine, working)) {
        DisplayPumpMessages();
        DisplaySetOwner(OwnerForPlayerWindow());
        PlayMovies(working);
    }
    ReportToParentWindow(working);
    return 0;
}

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
    return ExitStatusOf(Outcome);
}
