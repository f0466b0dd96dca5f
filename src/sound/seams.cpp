// SPDX-License-Identifier: MIT
// Test controls of the sound layer, in a unit of their own so that no program links them.
#include "sound/seams.h"

#include "sound/driver.h"

void SoundForgetDriver() {
    SoundDriver = SoundOperations{};
}
