// SPDX-License-Identifier: MIT
// The PCM format of a track as both sound drivers hand it to the system.
#pragma once

#include "platform/win32.h"
#include "sound/track.h"

inline WAVEFORMATEX TrackWaveFormat(const SoundTrack* track) {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = static_cast<WORD>(track->IsStereo + 1);
    format.nSamplesPerSec = track->SampleRate;
    format.wBitsPerSample = static_cast<WORD>(track->Is16Bit ? 16 : 8);
    format.nBlockAlign = static_cast<WORD>(format.nChannels * format.wBitsPerSample / 8);
    format.nAvgBytesPerSec = format.nBlockAlign * track->SampleRate;
    return format;
}
