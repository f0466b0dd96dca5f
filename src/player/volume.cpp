// SPDX-License-Identifier: MIT
// The listener's volume and mute, kept for the whole run and applied to each movie's tracks.
#include "player/volume.h"

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

void SetTracks(Movie* movie) {
    if (!movie || !SoundDriver.SoundVolumePan) return;
    const std::uint32_t full = Settings.UseDirectSound ? kDirectSoundFull : kWaveOutFull;
    const int tenths = Level.muted ? 0 : Level.tenths;
    const std::uint32_t volume = full * static_cast<std::uint32_t>(tenths) / kFullTenths;
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

int VolumeTenths() {
    return Level.tenths;
}

bool VolumeMuted() {
    return Level.muted;
}
