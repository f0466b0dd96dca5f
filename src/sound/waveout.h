// SPDX-License-Identifier: MIT
// The wave-output driver's operations, as SoundInstallWaveOut puts them in the table.
#pragma once

#include <cstdint>

#include "core/movie_names.h"

bool WaveOutOpenTrack(SoundTrack* track, std::uint32_t openFlags);
void WaveOutCloseTrack(SoundTrack* track);
void WaveOutService();
std::uint32_t WaveOutPosition(SoundTrack* track);
void WaveOutReset(SoundTrack* track);
void WaveOutPause(SoundTrack* track);
bool WaveOutResume(SoundTrack* track);
void WaveOutVolumePan(SoundTrack* track, std::uint32_t volume, std::uint32_t pan);

// For the end of the sound: hands over the last few bytes the service keeps back, and is
// true once the ring holds less than a sample frame and the device has given both buffers
// back: every byte of the track has been played.
bool WaveOutPlayedOut(SoundTrack* track);

// Size of each of a track's two play buffers: a quarter second rounded up to 4096 bytes.
std::uint32_t WaveOutBufferSize(std::uint32_t bytesPerSecond);
// The waveOutSetVolume word for a volume (0 to 0xFFFF) and a pan.
std::uint32_t WaveOutVolumeWord(std::uint32_t volume, std::uint32_t pan);
