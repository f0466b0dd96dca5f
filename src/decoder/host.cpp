// SPDX-License-Identifier: MIT
// The services table the core borrows from its caller.
#include "decoder/host.h"

#include <atomic>

namespace {

constexpr HostServices kNoServices{};

// Atomic because decoder handles on other threads read it while the system's interface
// installs it; the table itself never changes once installed.
std::atomic<const HostServices*> installed{&kNoServices};

}  // namespace

void InstallHostServices(const HostServices* services) {
    installed.store(services != nullptr ? services : &kNoServices, std::memory_order_release);
}

const HostServices& Host() {
    return *installed.load(std::memory_order_acquire);
}
