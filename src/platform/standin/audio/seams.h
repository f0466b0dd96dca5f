// SPDX-License-Identifier: MIT
// Controls of the stand-in's audio that no Windows program has: tests and tools choose
// the device, record what each stream played (wave output and sound buffers alike) and
// simulate a broken device or an older DirectSound.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/standin/audio/waveout.h"

namespace standin {

enum class AudioDeviceKind {
    Automatic,  // ZAMBREL_AUDIO, else SDL when a device opens, else simulated
    Sdl,        // the real audio device through SDL2; no fallback
    Simulated,  // consumes sound in real time, or in test time while the test clock runs
    None,       // no device: waveOutOpen fails
};

// Closes the current device (every stream must be closed) and uses `kind` from the next
// waveOutOpen on. Also finishes a capture file.
void SelectAudioDevice(AudioDeviceKind kind);
// The device streams play on now; None before the first open or after a failed one.
AudioDeviceKind OpenAudioDevice();
// Closes the device as SelectAudioDevice does, keeping the choice. Closing the SDL device
// is what makes its disk driver finish its file.
void ShutdownAudio();

// The simulated device writes its mix to this WAV file from its next opening on (empty
// = none; ZAMBREL_AUDIO_CAPTURE gives the default).
void SetAudioCapture(const std::string& wavPath);

// What one stream took from its buffers, in its own format, in played order.
struct PlayedStream {
    WAVEFORMATEX Format;
    std::vector<std::uint8_t> Bytes;
};
// While on, every stream opened records the bytes it plays.
void RecordPlayedStreams(bool on);
// The recordings of the streams opened since the last call, in opening order.
std::vector<PlayedStream> TakePlayedStreams();

// A stalled simulated device accepts buffers and never plays them, like a device whose
// driver hangs.
void StallSimulatedAudio(bool stalled);

// Sound buffers asked for DSBCAPS_GLOBALFOCUS are refused with DSERR_INVALIDPARAM, as by a
// DirectSound that predates the flag.
void RefuseGlobalFocusBuffers(bool refuse);
// Every sound buffer's Lock fails with DSERR_BUFFERLOST.
void FailSoundBufferLocks(bool fail);
// Called with the method's name at the start of every DirectSound call, on the calling
// thread, before the call does anything; an empty function removes it.
void SetDirectSoundHook(std::function<void(const char* method)> hook);

}  // namespace standin
