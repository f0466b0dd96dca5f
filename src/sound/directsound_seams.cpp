// SPDX-License-Identifier: MIT
// The DirectSound driver's test control, in a unit of its own so that no program links it.
#include "sound/directsound_seams.h"

#include "sound/directsound_state.h"

void DirectSoundForgetState() {
    DirectSoundPlayerCall call;
    DirectSoundDriverState.CooperativeWindow = nullptr;
    DirectSoundDriverState.NextServiceTime = 0;
}
