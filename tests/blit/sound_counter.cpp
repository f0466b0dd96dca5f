// SPDX-License-Identifier: MIT
// Stands in for the decoder's sound service, so the tests can see when a table build calls it.
#include "blit_test_support.h"

int serviceSoundCalls = 0;

extern "C" void ZambServiceSound(void) {
    ++serviceSoundCalls;
}
