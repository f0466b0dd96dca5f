// SPDX-License-Identifier: MIT
// The playback summary box (/S): figures about the last movie played.
#pragma once

#include <cstdint>
#include <string>

#include "core/movie_names.h"

// Written by the playback loop as each movie is closed; FramesPlayed is 0 until a movie
// has played.
extern PlaybackSummary LastSummary;
extern std::uint32_t LastPeakSecondBytes;
extern std::uint32_t LastPeakSecondFrame;
// How the last movie's sound was heard ("wave output to SDL audio"), or why it was not.
extern std::string LastSoundOutput;

// The sound path in use now: the driver (wave output, or DirectSound with /Z) and the device
// it plays on, which this opens to name; "no sound device" when none opens.
std::string DescribeSoundOutput();

// Everything the box shows, so that its text can be built without a display.
struct SummaryFigures {
    PlaybackSummary Summary;
    std::uint32_t PeakSecondBytes;
    std::uint32_t PeakSecondFrame;
    std::uint32_t ScreenColors;
    const char* DisplayDescription;
    std::string SoundOutput;  // empty: no line for it
};

// The box's text as built (before ShowMessage drops its first blank).
std::string PlaybackSummaryText(const SummaryFigures& figures);
// "a / b" with one decimal, b = 0 counting as 1, products in 32 bits: (1000, 66) is "15.1".
std::string FormatRatio(std::uint32_t a, std::uint32_t b);
// Milliseconds as "1 millisecond", "59 seconds", "1 minute 0 seconds", "2 hours 1 minute".
std::string FormatDuration(std::uint32_t milliseconds);

// Shows the box for the last movie closed; nothing when no frame was played.
void ShowPlaybackSummary();
