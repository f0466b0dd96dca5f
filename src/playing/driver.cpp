// SPDX-License-Identifier: MIT
// The process-wide sound state: the operation table and the count of open tracks.
#include "sound/driver.h"

SoundOperations SoundDriver{};
std::int32_t SoundTracksOpen = 0;
