// SPDX-License-Identifier: MIT
// The listener's volume and mute, kept for the whole run and applied to each movie's tracks.
#include "player/volume.h"

#include <cmath>

#include "player/settings.h"
#include "sound/driver.h"
#include "sound/track.h"
#include "core/movie_names.h"

namespace {

constexpr int kFullTenths = 10;
// The drivers' own full volume: the wave-output word's, and DirectSound's scale.
constexpr std::uint32_t kWaveOutFull = 0xFFFF;
constexpr std::uint32_t kDirectSoundFull = 0x8000;
constexpr std::uint32_t kCentre = 0x8000;

struct Loudness {
    int tenths = kFullTenths;
    bool muted = false;
    bool changed = false;  // once touched, every later movie gets it too
};
Loudness Level;

// The drivers' volumes for an amplitude of `tenths` of full. The wave-output word scales the
// amplitude itself; DirectSound's scale runs evenly in decibels, from -100 dB at 0 to none
// at full, so its volume is the one whose decibels are the amplitude's (half: -6.02 dB).
// A key then changes what is heard alike through either driver.
std::uint32_t DriverVolume(int tenths) {
    if (!Settings.UseDirectSound)
        return kWaveOutFull * static_cast<std::uint32_t>(tenths) / kFullTenths;
    if (tenths <= 0) return 0;
    constexpr double kRange = 10000;  // hundredths of a decibel from 0 to full
    const double hundredths = 2000 * std::log10(double(tenths) / kFullTenths);
    return static_cast<std::uint32_t>(
        std::lround((kRange + hundredths) * kDirectSoundFull / kRange));
}

void SetTracks(Movie* movie) {
    if (!movie || !SoundDriver.SoundVolumePan) return;
    const std::uint32_t volume = DriverVolume(Level.muted ? 0 : Level.tenths);
    for (SoundTrack* track : movie->Tracks)
        if (track) SoundDriver.SoundVolumePan(track, volume, kCentre);
}

}  // namespace

void StepVolume(Movie* movie, int tenths) {
    Level.tenths += tenths;
    if (Level.tenths < 0) Level.tenths = 0;
    if (Level.tenths > kFullTenths) Level.tenths = kFullTenths;
    Level.muted = false;
    Level.changed = true;
    SetTracks(movie);
}

void ToggleMute(Movie* movie) {
    Level.muted = !Level.muted;
    Level.changed = true;
    SetTracks(movie);
}

void ApplyVolume(Movie* movie) {
    if (Level.changed) SetTracks(movie);
}

std::uint32_t VolumeOpenFlags() {
    return Settings.UseDirectSound ? kSoundOpenWantsVolume : 0;
}

int VolumeTenths() {
    return Level.tenths;
}

bool VolumeMuted() {
    return Level.muted;
}
