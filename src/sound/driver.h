// SPDX-License-Identifier: MIT
// The sound operation table through which the decoder drives the installed sound driver.
#pragma once

#include <cstdint>

#include "core/movie_names.h"

// Bits of the movie's open flags, as SoundOpenTrack receives them, that ask for a track
// whose pan or volume can be changed. The DirectSound driver reads them, because its
// buffers carry those controls only when asked for at creation.
inline constexpr std::uint32_t kSoundOpenWantsPan = 0x20;
inline constexpr std::uint32_t kSoundOpenWantsVolume = 0x40;

struct SoundOperations {
    // true: the track plays from now on and is in the driver's list.
    bool (*SoundOpenTrack)(SoundTrack* track, std::uint32_t openFlags);
    // Stops and closes the device and frees the driver's buffers.
    void (*SoundCloseTrack)(SoundTrack* track);
    // Moves ring bytes to the device for every open track; never blocks.
    void (*SoundService)();
    // Bytes played since the open or the last reset; grows smoothly between buffers.
    std::uint32_t (*SoundPosition)(SoundTrack* track);
    // Stops playback; the play position starts again from 0.
    void (*SoundReset)(SoundTrack* track);
    // The device stops and holds nothing.
    void (*SoundPause)(SoundTrack* track);
    // true: the device plays again.
    bool (*SoundResume)(SoundTrack* track);
    // Pan 0 = left only, 0x8000 = centre, 0xFFFF = right only; the volume scale is the
    // driver's.
    void (*SoundVolumePan)(SoundTrack* track, std::uint32_t volume, std::uint32_t pan);
};

// Empty until a driver is installed; then kept for the rest of the run.
extern SoundOperations SoundDriver;
// Tracks whose open succeeded, in all movies; nobody services the driver while it is 0.
extern std::int32_t SoundTracksOpen;

// Installs the wave-output driver unless a driver is already installed (then false).
bool SoundInstallWaveOut();

// Calls the driver's service when any track is open.
inline void ServiceOpenTracks() {
    if (SoundTracksOpen != 0 && SoundDriver.SoundService) SoundDriver.SoundService();
}
