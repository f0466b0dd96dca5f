// SPDX-License-Identifier: MIT
// The decoding core names the wave-output driver (for movies opened with sound tracks
// through the system's own interface) and the stand-in's registrations of its sound and
// graphics components. The page has no device of either kind: it takes pictures and PCM
// through the embedding interface, which never opens a track on a driver. Built only where
// the library does not bring its own version of this file.
#include "platform/standin/audio/dsound.h"
#include "platform/standin/gui/desktop.h"
#include "sound/driver.h"

bool SoundInstallWaveOut() {
    return false;
}

namespace standin {

bool RegisterSoundComponents() {
    return true;
}

bool RegisterGraphicsComponents() {
    return true;
}

}  // namespace standin
