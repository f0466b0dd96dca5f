// SPDX-License-Identifier: MIT
// A sound driver for the decoder's tests: it plays nothing and reports what it was told.
#pragma once

#include <cstdint>

#include "sound/driver.h"
#include "sound/seams.h"
#include "sound/track.h"

struct FakeDriverState {
    int Services = 0;
    int Pauses = 0;
    int Resumes = 0;
    int Resets = 0;
    bool RefuseOpen = false;
    bool RefuseResume = false;
    std::uint32_t Position = 0;
};

inline FakeDriverState& FakeDriver() {
    static FakeDriverState state;
    return state;
}

// Replaces the table with the fake; call SoundForgetDriver afterwards.
inline void InstallFakeDriver() {
    FakeDriver() = FakeDriverState{};
    SoundForgetDriver();
    SoundDriver.SoundOpenTrack = [](SoundTrack*, std::uint32_t) {
        return !FakeDriver().RefuseOpen;
    };
    SoundDriver.SoundCloseTrack = [](SoundTrack*) {};
    SoundDriver.SoundService = [] { ++FakeDriver().Services; };
    SoundDriver.SoundPosition = [](SoundTrack*) { return FakeDriver().Position; };
    SoundDriver.SoundReset = [](SoundTrack*) { ++FakeDriver().Resets; };
    SoundDriver.SoundPause = [](SoundTrack*) { ++FakeDriver().Pauses; };
    SoundDriver.SoundResume = [](SoundTrack*) {
        ++FakeDriver().Resumes;
        return !FakeDriver().RefuseResume;
    };
    SoundDriver.SoundVolumePan = [](SoundTrack*, std::uint32_t, std::uint32_t) {};
}
