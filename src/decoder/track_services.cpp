// SPDX-License-Identifier: MIT
// The playing part's services as the core calls them.
#include "decoder/track_services.h"

#include <atomic>

namespace {

// Atomic for the same reason as the host's table: handles on other threads read it.
std::atomic<const TrackServices*> installed{nullptr};

}  // namespace

void InstallTrackServices(const TrackServices* services) {
    installed.store(services, std::memory_order_release);
}

void ServiceTracks() {
    if (const TrackServices* services = installed.load(std::memory_order_acquire))
        services->Service();
}

void RestartTracks(Movie* movie) {
    if (const TrackServices* services = installed.load(std::memory_order_acquire))
        services->Restart(movie);
}
