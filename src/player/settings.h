// SPDX-License-Identifier: MIT
// The player's settings from its switches, the text helpers of its command line, and its
// one message-box helper.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32.h"

// Text capacities, zero included. Longer input is refused with the usage message rather
// than cut, because a cut name would open some other file.
constexpr std::size_t kCommandLineCapacity = 244;
constexpr std::size_t kParentTitleCapacity = 32;  // 31 characters
constexpr std::size_t kNameListCapacity = 112;
constexpr std::size_t kMovieNameCapacity = 128;
constexpr std::size_t kMessageCapacity = 2048;

// Names message boxes and the player's window.
constexpr char kApplicationName[] = "ZambPlay";
constexpr char kVersionText[] = "3.1r";
constexpr char kCopyrightNotice[] = "Copyright (c) 2026 the Zambrel developers";

// Open flags the parser sets (their meaning is the decoder's).
constexpr std::uint32_t kOpenFrameRate = 0x80;
constexpr std::uint32_t kOpenFillBuffer = 0x100;
constexpr std::uint32_t kOpenPreload = 0x200;
constexpr std::uint32_t kOpenNoSkip = 0x400;
constexpr std::uint32_t kOpenReadSpeed = 0x800;
constexpr std::uint32_t kOpenTrackShift = 13;
constexpr std::uint32_t kOpenTrackMask = 0x7Fu << kOpenTrackShift;
constexpr std::uint32_t kOpenInterlace = 0x100000;
constexpr std::uint32_t kOpenDouble = 0x200000;
constexpr std::uint32_t kOpenScaleMask = kOpenInterlace | kOpenDouble;

// Display flags the parser sets (their meaning is the display's).
constexpr std::uint32_t kDisplayVideoTypeMask = 0x1F;
constexpr std::uint32_t kDisplayNoDirectDraw = 0x20;
constexpr std::uint32_t kDisplaySmoothing = 0x40;
constexpr std::uint32_t kDisplayInterlaced = 0x80;
constexpr std::uint32_t kDisplayDoubleBuffer = 0x100;
constexpr std::uint32_t kDisplayNoCaption = 0x200;
constexpr std::uint32_t kDisplayNoClearing = 0x1000;
constexpr std::uint32_t kDisplayNoDialogFrame = 0x4000;
constexpr std::uint32_t kDisplayThinBorder = 0x8000;
constexpr std::uint32_t kDisplayStyleMask =
    kDisplayNoCaption | kDisplayNoDialogFrame | kDisplayThinBorder;

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
    std::uint32_t OpenFlags = kOpenTrackMask;  // every sound track
    std::uint32_t DisplayFlags = 0;
};

extern PlayerSettings Settings;
// The controller window from /#, or null. Owns message boxes while the player has no
// window of its own, and receives the report at the end.
extern HWND ParentWindow;

// How the run went, for the exit status of the POSIX entry. The Windows entry returns 0
// whatever happened, as the programs that start it expect.
struct RunOutcome {
    bool UsageShown = false;      // the usage message: nothing was played
    bool PlaybackFailed = false;  // a movie did not open, or its display could not be made
};
extern RunOutcome Outcome;
// 2 after the usage message, 1 after a failed movie, 0 when everything played.
int ExitStatusOf(const RunOutcome& outcome);

// Back to the values before any parse; for a second run in the same process.
void ResetPlayerSettings();

// A blank, here and in every command-line rule, is any character from 1 to 32.
// Bytes 128 to 255 are ordinary characters, so that names in UTF-8 survive.
inline bool IsBlank(char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte >= 1 && byte <= 32;
}

// Trims blanks at both ends of a zero-terminated text, in place.
void TrimBlanks(char* text);

// Takes every recognised switch out of `text` (in place) into Settings. False, after the
// usage message, when anything that looks like a switch is left; what is left otherwise
// is the list of movie names.
bool ParseSwitches(char* text);

// Switch search shared by ParseSwitches and the entry's /#. The numeric form takes the
// first "/L" followed by a digit or by '-' and a digit, and answers its signed value
// (`fallback` when there is none); the flag form takes the first "/L" followed by a
// character at or below '/' and answers whether there was one.
std::int32_t TakeNumericSwitch(char* text, char letter, std::int32_t fallback,
                               bool* found = nullptr);
bool TakeFlagSwitch(char* text, char letter);

// The usage message box.
void ShowUsage();
// The usage box's caption and text, as shown.
const char* UsageCaption();
const char* UsageText();

// Moves the first movie name of `list` into `name` (at most nameCapacity - 1 characters;
// false and an empty name when it does not fit) and leaves the rest in `list`.
bool SplitFirstName(char* name, std::size_t nameCapacity, char* list);
// Whether the last path component of `name` has a '.' in it.
bool HasExtension(const char* name);

// One message box owned by the player's window, or by ParentWindow while there is none.
// Its text is text1 (one leading blank dropped), text2 and text3; any may be null, and a
// null caption means the application name. Returns when the user has closed it.
void ShowMessage(const char* caption, const char* text1, const char* text2, const char* text3,
                 bool isError);
// The text ShowMessage shows, built into `out` (kMessageCapacity bytes).
void ComposeMessage(const char* text1, const char* text2, const char* text3, char* out);
