// SPDX-License-Identifier: MIT
// The program entry: the command line through the controller exchange into the playback
// loop, and the report when playback is over.
#include "player/entry.h"

#include "display/window.h"
#include "player/command_text.h"
#include "player/controller.h"
#include "player/playback.h"
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
