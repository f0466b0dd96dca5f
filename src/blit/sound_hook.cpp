// SPDX-License-Identifier: MIT
// The installed sound service the blitter calls around its long table builds.
#include "blit/sound_hook.h"

#include <atomic>

namespace {
std::atomic<BlitSoundService> installedService{nullptr};
}  // namespace

void BlitInstallSoundService(BlitSoundService service) {
    installedService.store(service);
}

void BlitServiceSound() {
    if (BlitSoundService service = installedService.load()) service();
}
