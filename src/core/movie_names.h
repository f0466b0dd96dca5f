// SPDX-License-Identifier: MIT
// The movie record, its summary and their bit families under the short names the system's
// own code uses (Movie, FILE_RING, BLOCK_SKIP, ...). The public header keeps them behind
// ZAMBREL_SHORT_NAMES, so that an embedding program's own names never meet them; the
// system's code includes this header instead of <zambrel/movie.h>.
#pragma once

#ifndef ZAMBREL_SHORT_NAMES
#define ZAMBREL_SHORT_NAMES
#endif
#include "zambrel/movie.h"

// The records the movie points at, whose public tags carry the prefix; their definitions
// are the decoder's and the sound side's own.
using TreeBlock = ZambTreeBlock;
using Destination = ZambDestination;
using SoundTrack = ZambSoundTrack;
