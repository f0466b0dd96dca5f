// SPDX-License-Identifier: MIT
// The player's settings from its switches, the controller window and how the run went.
#pragma once

#include <cstdint>
#include <string>

#include "core/movie_names.h"
#include "platform/win32.h"

// Disabled-key bits of DisableControls.
constexpr std::int32_t kDisablePause = 1;
constexpr std::int32_t kDisableSkip = 2;
constexpr std::int32_t kDisableQuit = 4;

// Everything the switches say. Read by the playback loop before every movie and by the
// display; written only by ParseSwitches.
struct PlayerSettings {
    std::int32_t PosX = -1;  // window position; -1 centres on that axis
    std::int32_t PosY = -1;
    std::int32_t ReadSpeed = 0;     // simulated bytes per second; 0 = off
    std::int32_t ExtraBuffer = -1;  // bytes of extra buffering, handed to the open
    std::int32_t LoopCount = 1;     // plays of the movie (or the list); -1 = endless
    // -1 the movie's own rate, 0 as fast as possible, > 0 frames per second,
    // < -1 minus the frame period in 1/100 ms.
    std::int32_t FrameRate = -1;
    std::int32_t DisableControls = 0;  // kDisablePause | kDisableSkip | kDisableQuit
    bool ShowSummary = false;
    bool SoundOnly = false;
    bool DiffOnly = false;
    bool FrameInCaption = false;
    bool UseDirectSound = false;
    std::uint8_t RemapMode = 0;  // 1 system palette, 2 no remap, other normal
    bool NoFocusPause = false;
    std::int32_t StretchWidth = 0;  // 0 = no stretch
    std::int32_t StretchHeight = 0;
    std::int32_t DisplayResolution = 0;  // 1 640x400 ... 4 1024x768; 0 leave alone
    bool NoMMX = false;
    std::uint32_t OpenFlags = ZAMB_TRACK_MASK;  // ZambOpen's flags; every sound track
    std::uint32_t DisplayFlags = 0;             // the display's kDisplay* flags
};

extern PlayerSettings Settings;
// The controller window from /#, or null. Owns message boxes while the player has no
// window of its own, and receives the report at the end.
extern HWND ParentWindow;

// How the run went, for the exit status of the POSIX entry. The Windows entry returns 0
// whatever happened, as the programs that start it expect.
struct RunOutcome {
    bool UsageShown = false;      // the usage message: nothing was played
    bool PlaybackFailed = false;  // a movie did not open, its display could not be made,
                                  // or its file could not be read to the end
    std::string UsageFault;       // with UsageShown: what was wrong, for standard error
};
extern RunOutcome Outcome;
// 2 after the usage message, 1 after a failed movie, 0 when everything played.
int ExitStatusOf(const RunOutcome& outcome);

// Back to the values before any parse; for a second run in the same process.
void ResetPlayerSettings();
