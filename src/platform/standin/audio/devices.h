// SPDX-License-Identifier: MIT
// The audio devices behind the mixer: the SDL2 device and the simulated one.
#pragma once

#include "platform/standin/audio/mixer.h"
#include "platform/standin/audio/waveout.h"

namespace standin::audio {

// Opens the chosen device unless one is open; false when no device can be opened.
// Caller does not hold MixLock.
bool EnsureDevice();
// Called before a stream joins the mix, without MixLock: the simulated device takes the
// first stream's format as its own, so that a lone stream is captured bit for bit.
void DeviceStreamOpening(const WAVEFORMATEX& format);
// Called once the stream is in the mix, without MixLock: wakes a device idle for want of one.
void DeviceStreamOpened();

// The simulated device's parts (simulated_device.cpp).
bool OpenSimulated();
void CloseSimulated();
void SimulatedStreamOpening(const WAVEFORMATEX& format);
void SimulatedStreamOpened();

// The SDL2 device (sdl_device.cpp), through SDL2 loaded at the first call; false when the
// library is missing. Caller holds the device lock.
bool SdlAvailable();
bool OpenSdl();
void CloseSdl();

// WAV files of the simulated device's capture (wav_file.cpp).
struct WavFile;
WavFile* WavCreate(const char* path, const OutputFormat& format);
void WavAppend(WavFile* file, const std::uint8_t* bytes, std::size_t count);
void WavFinish(WavFile* file);

}  // namespace standin::audio
