// SPDX-License-Identifier: MIT
// The listener's volume and mute, kept for the whole run and applied to each movie's tracks.
#pragma once

#include <cstdint>

#include "core/movie_names.h"

// Steps of a tenth; a step past either end stays there.
void StepVolume(Movie* movie, int tenths);
void ToggleMute(Movie* movie);
// Puts the run's volume on a movie just opened; full volume leaves its tracks as opened.
void ApplyVolume(Movie* movie);
// What a movie's open flags need for the keys to reach its tracks: DirectSound's buffers
// take a volume only when made with a control for it.
std::uint32_t VolumeOpenFlags();
// The volume in tenths (0 to 10) and whether the sound is muted, for tests.
int VolumeTenths();
bool VolumeMuted();
