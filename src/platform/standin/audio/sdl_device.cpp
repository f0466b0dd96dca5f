// SPDX-License-Identifier: MIT
// The real audio device through SDL2: SDL's audio thread pulls the mix. SDL2 is loaded when a
// device is first wanted, not linked, so that a program embedding the library needs it only
// to hear sound; without it no device opens, as when a machine has no sound card. A program
// that links SDL2 itself (the player) gets the same, already loaded, copy.
#include <SDL.h>
#include <dlfcn.h>

#include "platform/standin/audio/alsa_errors.h"
#include "platform/standin/audio/devices.h"

namespace standin::audio {
namespace {

// The SDL calls the device makes, looked up by name in the loaded library.
struct SdlCalls {
    decltype(&SDL_InitSubSystem) InitSubSystem = nullptr;
    decltype(&SDL_QuitSubSystem) QuitSubSystem = nullptr;
    decltype(&SDL_OpenAudioDevice) OpenAudioDevice = nullptr;
    decltype(&SDL_PauseAudioDevice) PauseAudioDevice = nullptr;
    decltype(&SDL_CloseAudioDevice) CloseAudioDevice = nullptr;
};

template <typename Call>
bool Find(void* library, const char* name, Call& call) {
    call = reinterpret_cast<Call>(dlsym(library, name));
    return call != nullptr;
}

// Loaded once and kept: SDL may leave threads and exit handlers behind. Null when SDL2 is
// missing or lacks a call. Caller holds the device lock, so no two threads load at once.
const SdlCalls* Sdl() {
    static bool tried = false;
    static SdlCalls calls;
    static const SdlCalls* loaded = nullptr;
    if (tried) return loaded;
    tried = true;
    void* library = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return nullptr;
    if (Find(library, "SDL_InitSubSystem", calls.InitSubSystem) &&
        Find(library, "SDL_QuitSubSystem", calls.QuitSubSystem) &&
        Find(library, "SDL_OpenAudioDevice", calls.OpenAudioDevice) &&
        Find(library, "SDL_PauseAudioDevice", calls.PauseAudioDevice) &&
        Find(library, "SDL_CloseAudioDevice", calls.CloseAudioDevice))
        loaded = &calls;
    return loaded;
}

SDL_AudioDeviceID sdlDevice = 0;
OutputFormat sdlFormat;

void SDLCALL PullMix(void*, Uint8* out, int length) {
    std::lock_guard<std::mutex> guard(MixLock());
    RenderLocked(sdlFormat, static_cast<std::size_t>(length) / sdlFormat.BlockAlign(), out);
}

}  // namespace

bool SdlAvailable() {
    return Sdl() != nullptr;
}

bool OpenSdl() {
    const SdlCalls* sdl = Sdl();
    if (sdl == nullptr) return false;
    const AlsaErrorsHidden quiet;
    if (sdl->InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    SDL_AudioSpec wanted{};
    wanted.freq = 44100;
    wanted.format = AUDIO_S16LSB;
    wanted.channels = 2;
    wanted.samples = 1024;
    wanted.callback = PullMix;
    SDL_AudioSpec granted{};
    sdlDevice =
        sdl->OpenAudioDevice(nullptr, 0, &wanted, &granted, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
    if (sdlDevice == 0) {
        sdl->QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    sdlFormat = {static_cast<DWORD>(granted.freq), 2, 16};
    sdl->PauseAudioDevice(sdlDevice, 0);
    return true;
}

// Called without MixLock: closing waits for a running pull to end.
void CloseSdl() {
    if (sdlDevice == 0) return;
    const SdlCalls* sdl = Sdl();
    sdl->CloseAudioDevice(sdlDevice);
    sdlDevice = 0;
    sdl->QuitSubSystem(SDL_INIT_AUDIO);
}

}  // namespace standin::audio
