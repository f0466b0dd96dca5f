// SPDX-License-Identifier: MIT
// What the decoding core borrows from the program around it: a clock, a way to wait, a sound
// driver and the reading of a file the system's own interface opened. The core reaches none
// of these itself, so that it builds and runs where there is no such thing (a web page). A
// program that installs nothing gets a core that tells no time, opens no sound track and
// reads only through readers, which is all that decoder handles need.
#pragma once

#include <cstddef>
#include <cstdint>

struct HostServices {
    // Milliseconds from any fixed point, wrapping at 2^32.
    std::uint32_t (*Milliseconds)();
    // Gives the processor up for about `milliseconds`.
    void (*Sleep)(std::uint32_t milliseconds);
    // Installs a sound driver into SoundDriver when none is there yet.
    void (*InstallSoundDriver)();
    // The reader's two operations over a movie's FileHandle, for movies of the system's own
    // interface, whose record shows its callers the file itself.
    std::size_t (*ReadFile)(void* file, void* buffer, std::size_t size);
    int (*SeekFile)(void* file, std::uint64_t position);
};

// Installs `services` for every later call of the core, in any thread; the table must stay
// valid for the rest of the process. Null goes back to having none of them.
void InstallHostServices(const HostServices* services);
// The installed table, or one whose every entry is null.
const HostServices& Host();

// The installed clock, or 0 without one.
inline std::uint32_t HostMilliseconds() {
    const HostServices& host = Host();
    return host.Milliseconds != nullptr ? host.Milliseconds() : 0;
}

inline bool HostHasClock() {
    return Host().Milliseconds != nullptr;
}
