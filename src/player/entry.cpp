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

int RunPlayerWithArguments(const std::vector<std::string>& args) {
    if (AsksForHelp(args)) {
        std::fputs(PosixUsageText().c_str(), stdout);
        std::fputc('\n', stdout);
        return 0;
    }
    std::string text = CommandLineFromArguments(args);
    std::vector<char> commandLine(text.begin(), text.end());
    commandLine.push_back('\0');
    return RunPlayer(commandLine.data());
}
