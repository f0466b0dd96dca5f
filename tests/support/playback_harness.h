// SPDX-License-Identifier: MIT
// Headless playback for tests: a movie played frame after frame as the player plays it,
// against the simulated audio device in test-driven time, with every stream's sound kept.
#pragma once

#include <cstdint>
#include <vector>

#include "core/movie_names.h"
#include "platform/standin/audio/seams.h"

namespace zambrel::testing {

struct PlaybackOptions {
    std::uint32_t OpenFlags = ZAMB_TRACK0;  // ZAMB_FILE_HANDLE is added
    std::uint32_t ExtraBuffer = 0xFFFFFFFF;
    std::uint32_t Frames = 0;        // frames to play; 0 = the movie's FrameCount
    bool DecodeVideo = true;         // into a buffer of the movie's size
    std::uint32_t WaitStep = 1;      // test-clock milliseconds per unanswered ZambWait
    std::uint32_t WaitLimit = 5000;  // milliseconds one frame may wait at most
};

struct PlayedFrame {
    std::uint32_t Number = 0;  // FrameNumber when it was decoded
    std::int32_t Late = 0;     // ZambDoFrame's result
    std::uint32_t Waits = 0;   // ZambWait calls that answered 1
    std::uint32_t DoneAt = 0;  // test clock when ZambWait answered 0
    // Per track: bytes the frame put into the ring (sound and padding silence).
    std::uint32_t Queued[ZAMB_TRACK_COUNT] = {};
};

struct PlaybackResult {
    bool Opened = false;
    std::uint32_t StartTime = 0;  // test clock right after the open
    std::vector<PlayedFrame> Frames;
    PlaybackSummary Summary{};
    // Per track at the end: the counters of its record (zero for tracks not open).
    std::uint32_t SoundSkips[ZAMB_TRACK_COUNT] = {};
    std::uint32_t Overflows[ZAMB_TRACK_COUNT] = {};
    std::uint32_t MaxChunk[ZAMB_TRACK_COUNT] = {};
    std::int32_t PrimaryTrack = -1;
    // What each wave-output stream played, in the order the tracks opened (lowest first).
    std::vector<standin::PlayedStream> Streams;
};

// Switches to the test clock and the simulated device for its lifetime, and back after.
class PlaybackHarness {
  public:
    explicit PlaybackHarness(std::uint32_t startTime = 1000);
    ~PlaybackHarness();
    PlaybackHarness(const PlaybackHarness&) = delete;
    PlaybackHarness& operator=(const PlaybackHarness&) = delete;

    // Opens the movie from memory, plays it, lets the device play out what is queued, and
    // closes it.
    PlaybackResult Play(const std::vector<std::uint8_t>& movieBytes,
                        const PlaybackOptions& options = {});
};

}  // namespace zambrel::testing
