// SPDX-License-Identifier: MIT
// The real audio device through SDL2: SDL's audio thread pulls the mix.
#include <SDL.h>

#include "platform/standin/audio/devices.h"

namespace standin::audio {
namespace {

SDL_AudioDeviceID sdlDevice = 0;
OutputFormat sdlFormat;

void SDLCALL PullMix(void*, Uint8* out, int length) {
    std::lock_guard<std::mutex> guard(MixLock());
    RenderLocked(sdlFormat, static_cast<std::size_t>(length) / sdlFormat.BlockAlign(), out);
}

}  // namespace

bool OpenSdl() {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    SDL_AudioSpec wanted{};
    wanted.freq = 44100;
    wanted.format = AUDIO_S16LSB;
    wanted.channels = 2;
    wanted.samples = 1024;
    wanted.callback = PullMix;
    SDL_AudioSpec granted{};
    sdlDevice =
        SDL_OpenAudioDevice(nullptr, 0, &wanted, &granted, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
    if (sdlDevice == 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    sdlFormat = {static_cast<DWORD>(granted.freq), 2, 16};
    SDL_PauseAudioDevice(sdlDevice, 0);
    return true;
}

// Called without MixLock: closing waits for a running pull to end.
void CloseSdl() {
    if (sdlDevice == 0) return;
    SDL_CloseAudioDevice(sdlDevice);
    sdlDevice = 0;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

}  // namespace standin::audio
