// SPDX-License-Identifier: MIT
// A silent error handler for alsa-lib, through alsa-lib loaded at run time: the library is
// SDL's business, so it is never linked, and a machine without it has no lines to hide.
#include "platform/standin/audio/alsa_errors.h"

#include <dlfcn.h>

#include "platform/win32.h"

namespace standin::audio {
namespace {

// alsa-lib's snd_lib_error_handler_t, snd_lib_error (the handler in place) and
// snd_lib_error_set_handler, by their shapes: its headers are not needed to build.
using AlsaErrorHandler = void (*)(const char* file, int line, const char* function, int error,
                                  const char* format, ...);
using SetAlsaErrorHandler = int (*)(AlsaErrorHandler handler);

struct AlsaCalls {
    SetAlsaErrorHandler setHandler = nullptr;
    AlsaErrorHandler* current = nullptr;
};

void Unheard(const char*, int, const char*, int, const char*, ...) {}

// The same setting, read the same way, that turns on the decoder's and the drivers' debug
// output: whoever asks for that wants to see what alsa-lib says too.
bool DetailAsked() {
    return (GetProfileIntA("Zambrel", "Debug", 0) & 0xFF) == 1;
}

// Loaded once and kept, as SDL keeps its copy (which this is, whichever loads it first).
// Null calls when alsa-lib is missing or lacks one. Callers hold the device lock.
const AlsaCalls& Alsa() {
    static bool tried = false;
    static AlsaCalls calls;
    if (tried) return calls;
    tried = true;
    void* library = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return calls;
    auto* setHandler =
        reinterpret_cast<SetAlsaErrorHandler>(dlsym(library, "snd_lib_error_set_handler"));
    auto* current = static_cast<AlsaErrorHandler*>(dlsym(library, "snd_lib_error"));
    if (setHandler != nullptr && current != nullptr) calls = {setHandler, current};
    return calls;
}

}  // namespace

AlsaErrorsHidden::AlsaErrorsHidden() {
    if (DetailAsked()) return;
    const AlsaCalls& alsa = Alsa();
    if (alsa.setHandler == nullptr) return;
    previous_ = reinterpret_cast<void (*)()>(*alsa.current);
    alsa.setHandler(Unheard);
}

AlsaErrorsHidden::~AlsaErrorsHidden() {
    if (previous_ == nullptr) return;
    Alsa().setHandler(reinterpret_cast<AlsaErrorHandler>(previous_));
}

}  // namespace standin::audio
