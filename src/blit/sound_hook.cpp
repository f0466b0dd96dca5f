// SPDX-License-Identifier: MIT
#include "blit/sound_hook.h"

#include <atomic>

namespace {
std::atomic<BlitSoundService> installedService{nullptr};
}  // namespace

void BlitInstallSoundService(BlitSoundService service) { installedService.store(service); }

void BlitServiceSound() {
    if (BlitSoundService service = installedService.load()) service();
}
