// SPDX-License-Identifier: MIT
// The DirectSound driver: each track streams through a looping half-second sound buffer,
// refilled by every service call and by a periodic multimedia timer, so that the sound keeps
// flowing while the player's thread is busy.
#pragma once

#include <cstdint>

#include "platform/win32.h"

#include "core/movie_names.h"

// Installs this driver for /Z, loading DSOUND.DLL. `object` is a DirectSound object to use
// (the caller keeps it), or none to have one created at the first track open. When a driver
// is already installed, answers whether it is this one.
bool SoundUseDirectSound(LPDIRECTSOUND object);
// The window DirectSound cooperates with (and whose activation it follows), given by the
// playback loop for every movie.
void SoundSetWindow(HWND window);

// The driver's operations, as SoundUseDirectSound puts them in the table.
bool DirectSoundOpenTrack(SoundTrack* track, std::uint32_t openFlags);
void DirectSoundCloseTrack(SoundTrack* track);
void DirectSoundService();
std::uint32_t DirectSoundPosition(SoundTrack* track);
void DirectSoundReset(SoundTrack* track);
void DirectSoundPause(SoundTrack* track);
bool DirectSoundResume(SoundTrack* track);
void DirectSoundVolumePan(SoundTrack* track, std::uint32_t volume, std::uint32_t pan);

// Size of a track's sound buffer: half a second rounded up to 4096 bytes.
std::uint32_t DirectSoundBufferSize(std::uint32_t bytesPerSecond);
// SetPan's and SetVolume's arguments, in hundredths of a decibel, for a pan (0 to 0xFFFF)
// and a volume (0 to 0x8000 = full).
LONG DirectSoundPanLevel(std::uint32_t pan);
LONG DirectSoundVolumeLevel(std::uint32_t volume);
