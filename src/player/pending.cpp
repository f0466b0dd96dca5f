// SPDX-License-Identifier: MIT
// The DirectSound driver is not connected to the player yet, so /Z finds no DirectSound
// and wave output plays. This file is the one place that says so; it goes when the driver
// lands.
#include "player/pending.h"

bool InstallDirectSound() {
    return false;
}
