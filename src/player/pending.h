// SPDX-License-Identifier: MIT
// The player's call into the DirectSound driver, which is not connected yet: one small
// function, so that connecting it is a one-line change.
#pragma once

// Installs the DirectSound driver; false when the machine has none.
bool InstallDirectSound();
