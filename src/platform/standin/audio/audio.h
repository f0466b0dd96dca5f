// SPDX-License-Identifier: MIT
// Wave output, DirectSound and multimedia timers over the mixer.
#pragma once

#include "platform/standin/kernel/types.h"
#include "platform/standin/audio/waveout.h"
#include "platform/standin/audio/dsound.h"
#include "platform/standin/audio/mmtimer.h"
