// SPDX-License-Identifier: MIT
// Whether a track's sound has all been heard, read from the installed driver's own records.
#include "sound/played_out.h"

#include "sound/driver.h"
#include "sound/track.h"
#include "sound/waveout.h"

namespace {

// The service stops a sound buffer once its play cursor has reached the silence written
// after the last real sound, so a stopped buffer with an empty ring has played it all. The
// service may run on the timer's thread, hence the fresh reads.
bool DirectSoundPlayedOut(SoundTrack* track) {
    if (RingFillLoad(track) >= SampleFrameBytes(track)) return false;
    DirectSoundTrackArea& area = track->Driver.DirectSound;
    if (!__atomic_load_n(&area.SoundBuffer, __ATOMIC_SEQ_CST)) return true;
    return __atomic_load_n(&area.Stopped, __ATOMIC_SEQ_CST) != 0;
}

}  // namespace

bool SoundTrackPlayedOut(SoundTrack* track) {
    if (SoundDriver.SoundOpenTrack == WaveOutOpenTrack) return WaveOutPlayedOut(track);
    return DirectSoundPlayedOut(track);
}
