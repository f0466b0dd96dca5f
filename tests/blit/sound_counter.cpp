// SPDX-License-Identifier: MIT
// Installs a counter as the blitter's sound service, so the tests can see when a table build
// calls it.
#include "blit/sound_hook.h"
#include "blit_test_support.h"

int serviceSoundCalls = 0;

namespace {
void CountServiceSound() {
    ++serviceSoundCalls;
}

const bool installed = (BlitInstallSoundService(&CountServiceSound), true);
}  // namespace
