// SPDX-License-Identifier: MIT
// Chooses and opens the audio device: ZAMBREL_AUDIO=sdl|simulated|none, else SDL when
// its device opens and the simulated one otherwise (and always under ZAMBREL_HOST=headless).
// Without SDL2 on the machine there is no device at all: tracks do not open.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/standin/audio/devices.h"
#include "platform/standin/audio/seams.h"

namespace standin::audio {
namespace {

std::mutex deviceLock;
AudioDeviceKind chosen = AudioDeviceKind::Automatic;
AudioDeviceKind openDevice = AudioDeviceKind::None;
bool exitHookSet = false;

bool EnvironmentIs(const char* name, const char* value) {
    const char* setting = std::getenv(name);
    return setting && std::strcmp(setting, value) == 0;
}

AudioDeviceKind Resolve(AudioDeviceKind kind) {
    if (kind != AudioDeviceKind::Automatic) return kind;
    if (EnvironmentIs("ZAMBREL_AUDIO", "sdl")) return AudioDeviceKind::Sdl;
    if (EnvironmentIs("ZAMBREL_AUDIO", "simulated")) return AudioDeviceKind::Simulated;
    if (EnvironmentIs("ZAMBREL_AUDIO", "none")) return AudioDeviceKind::None;
    if (EnvironmentIs("ZAMBREL_HOST", "headless")) return AudioDeviceKind::Simulated;
    return AudioDeviceKind::Automatic;
}

AudioDeviceKind OpenKind(AudioDeviceKind kind) {
    switch (kind) {
        case AudioDeviceKind::Sdl:
            return OpenSdl() ? kind : AudioDeviceKind::None;
        case AudioDeviceKind::Simulated:
            return OpenSimulated() ? kind : AudioDeviceKind::None;
        case AudioDeviceKind::Automatic:
            if (!SdlAvailable()) return AudioDeviceKind::None;
            if (OpenSdl()) return AudioDeviceKind::Sdl;
            return OpenSimulated() ? AudioDeviceKind::Simulated : AudioDeviceKind::None;
        case AudioDeviceKind::None:
            break;
    }
    return AudioDeviceKind::None;
}

void CloseLocked() {
    if (openDevice == AudioDeviceKind::Sdl) CloseSdl();
    if (openDevice == AudioDeviceKind::Simulated) CloseSimulated();
    openDevice = AudioDeviceKind::None;
}

}  // namespace

bool EnsureDevice() {
    std::lock_guard<std::mutex> guard(deviceLock);
    if (openDevice != AudioDeviceKind::None) return true;
    openDevice = OpenKind(Resolve(chosen));
    if (openDevice != AudioDeviceKind::None && !exitHookSet) {
        exitHookSet = true;
        std::atexit(standin::ShutdownAudio);  // stops the device's thread before statics go
    }
    return openDevice != AudioDeviceKind::None;
}

void DeviceStreamOpening(const WAVEFORMATEX& format) {
    std::lock_guard<std::mutex> guard(deviceLock);
    if (openDevice == AudioDeviceKind::Simulated) SimulatedStreamOpening(format);
}

void DeviceStreamOpened() {
    std::lock_guard<std::mutex> guard(deviceLock);
    if (openDevice == AudioDeviceKind::Simulated) SimulatedStreamOpened();
}

}  // namespace standin::audio

namespace standin {

void SelectAudioDevice(AudioDeviceKind kind) {
    std::lock_guard<std::mutex> guard(audio::deviceLock);
    audio::CloseLocked();
    audio::chosen = kind;
}

AudioDeviceKind OpenAudioDevice() {
    std::lock_guard<std::mutex> guard(audio::deviceLock);
    return audio::openDevice;
}

void ShutdownAudio() {
    std::lock_guard<std::mutex> guard(audio::deviceLock);
    audio::CloseLocked();
}

}  // namespace standin

// The device's name is what it is: the sound card through SDL, or the simulated device that
// plays into nothing (or a capture file).
MMRESULT WINAPI waveOutGetDevCapsA(UINT_PTR deviceId, LPWAVEOUTCAPSA caps, UINT capsSize) {
    if (deviceId != 0 && deviceId != static_cast<UINT_PTR>(WAVE_MAPPER))
        return MMSYSERR_BADDEVICEID;
    if (!caps || capsSize < sizeof(WAVEOUTCAPSA)) return MMSYSERR_INVALPARAM;
    if (!standin::audio::EnsureDevice()) return MMSYSERR_NODRIVER;
    *caps = WAVEOUTCAPSA{};
    const bool sdl = standin::OpenAudioDevice() == standin::AudioDeviceKind::Sdl;
    std::snprintf(caps->szPname, sizeof caps->szPname, "%s",
                  sdl ? "SDL audio" : "simulated audio (no sound card)");
    caps->wChannels = 2;
    return MMSYSERR_NOERROR;
}
