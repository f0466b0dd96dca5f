// SPDX-License-Identifier: MIT
// The settings record, the controller window and the run's outcome.
#include "player/settings.h"

PlayerSettings Settings;
HWND ParentWindow = nullptr;
RunOutcome Outcome;

int ExitStatusOf(const RunOutcome& outcome) {
    if (outcome.UsageShown) return 2;
    return outcome.PlaybackFailed ? 1 : 0;
}

void ResetPlayerSettings() {
    Settings = PlayerSettings{};
    ParentWindow = nullptr;
    Outcome = RunOutcome{};
}
