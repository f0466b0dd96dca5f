// SPDX-License-Identifier: MIT
// The DirectSound driver's process-wide state, shared by the driver and its test control.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "platform/win32.h"

#include "core/movie_names.h"

using DirectSoundCreateFunction = HRESULT(WINAPI*)(LPCGUID, LPDIRECTSOUND*, LPUNKNOWN);

struct DirectSoundState {
    HMODULE DirectSoundLibrary = nullptr;
    DirectSoundCreateFunction DirectSoundCreateEntry = nullptr;
    LPDIRECTSOUND DirectSoundObject = nullptr;
    bool ObjectCreatedHere = false;
    bool PrimaryPending = false;
    HWND CooperativeWindow = nullptr;
    SoundTrack* DirectSoundTracks = nullptr;
    std::int32_t BufferCount = 0;
    UINT ServiceTimer = 0;
    // DirectSound calls and services in progress, on any thread.
    std::atomic<std::int32_t> SoundActivity{0};
    std::uint32_t NextServiceTime = 0;
};
extern DirectSoundState DirectSoundDriverState;

// The player's thread brackets its work with SoundActivity, as every DirectSound call is
// bracketed. It waits for a service already running on the timer's thread to finish first:
// the two would otherwise change the same track, or the service would go on using a buffer
// the player's thread releases. A service never waits; it backs off instead.
class DirectSoundPlayerCall {
  public:
    DirectSoundPlayerCall() {
        std::int32_t idle = 0;
        while (!DirectSoundDriverState.SoundActivity.compare_exchange_weak(idle, 1)) {
            idle = 0;
            std::this_thread::yield();
        }
    }
    ~DirectSoundPlayerCall() { DirectSoundDriverState.SoundActivity.fetch_sub(1); }
    DirectSoundPlayerCall(const DirectSoundPlayerCall&) = delete;
    DirectSoundPlayerCall& operator=(const DirectSoundPlayerCall&) = delete;
};
