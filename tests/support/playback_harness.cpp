// SPDX-License-Identifier: MIT
// The player's frame loop without a display: decode, advance, wait, in test-driven time.
#include "playback_harness.h"

#include "platform/standin/kernel/clock.h"
#include "platform/standin/kernel/kernel.h"
#include "platform/standin/kernel/seams.h"
#include "sound/track.h"

namespace zambrel::testing {
namespace {

constexpr std::uint32_t kDrainStep = 10;
constexpr std::uint32_t kDeviceHolds = 600;  // the device holds at most half a second

void WaitForFrame(Movie* movie, const PlaybackOptions& options, PlayedFrame& frame) {
    for (std::uint32_t waited = 0; ZambWait(movie) != 0 && waited < options.WaitLimit;
         waited += options.WaitStep) {
        ++frame.Waits;
        standin::AdvanceTestClock(options.WaitStep);
    }
    frame.DoneAt = timeGetTime();
}

std::uint32_t QueuedBytes(const Movie* movie, int n) {
    return movie->Tracks[n] ? movie->Tracks[n]->BytesQueued : 0;
}

PlayedFrame PlayFrame(Movie* movie) {
    PlayedFrame frame;
    frame.Number = movie->FrameNumber;
    std::uint32_t before[ZAMB_TRACK_COUNT];
    for (int n = 0; n < ZAMB_TRACK_COUNT; ++n) before[n] = QueuedBytes(movie, n);
    frame.Late = ZambDoFrame(movie);
    for (int n = 0; n < ZAMB_TRACK_COUNT; ++n) frame.Queued[n] = QueuedBytes(movie, n) - before[n];
    return frame;
}

// Lets the device play everything still in the rings and its buffers.
void Drain(Movie* movie) {
    for (std::uint32_t waited = 0; waited < 60000; waited += kDrainStep) {
        bool queued = false;
        for (SoundTrack* track : movie->Tracks) queued |= track && RingFillLoad(track) != 0;
        if (!queued) break;
        ZambServiceSound();
        standin::AdvanceTestClock(kDrainStep);
    }
    for (std::uint32_t waited = 0; waited < kDeviceHolds; waited += kDrainStep) {
        standin::AdvanceTestClock(kDrainStep);
        ZambServiceSound();
    }
}

void KeepTrackCounters(const Movie* movie, PlaybackResult& result) {
    result.PrimaryTrack = movie->PrimaryTrack;
    for (int n = 0; n < ZAMB_TRACK_COUNT; ++n) {
        const SoundTrack* track = movie->Tracks[n];
        if (!track) continue;
        result.SoundSkips[n] = track->SoundSkips;
        result.Overflows[n] = track->Overflows;
        result.MaxChunk[n] = track->MaxChunk;
    }
}

}  // namespace

PlaybackHarness::PlaybackHarness(std::uint32_t startTime) {
    standin::UseTestClock(startTime);
    standin::SelectAudioDevice(standin::AudioDeviceKind::Simulated);
    standin::RecordPlayedStreams(true);
    standin::TakePlayedStreams();
}

PlaybackHarness::~PlaybackHarness() {
    standin::RecordPlayedStreams(false);
    standin::TakePlayedStreams();
    standin::SelectAudioDevice(standin::AudioDeviceKind::Automatic);
    standin::UseRealClock();
}

PlaybackResult PlaybackHarness::Play(const std::vector<std::uint8_t>& movieBytes,
                                     const PlaybackOptions& options) {
    PlaybackResult result;
    standin::TakePlayedStreams();
    HANDLE file = standin::OpenMemoryFile(movieBytes.data(), movieBytes.size());
    Movie* movie = ZambOpen(file, options.OpenFlags | ZAMB_FILE_HANDLE, options.ExtraBuffer);
    if (!movie) {
        CloseHandle(file);
        return result;
    }
    result.Opened = true;
    result.StartTime = timeGetTime();
    std::vector<std::uint8_t> picture;
    if (options.DecodeVideo) {
        picture.resize(std::size_t{movie->Width} * movie->Height);
        ZambSetDestination(movie, 0, 0, static_cast<std::int32_t>(movie->Width),
                           static_cast<std::int32_t>(movie->Height), picture.data(), 0);
    }
    const std::uint32_t frames = options.Frames ? options.Frames : movie->FrameCount;
    for (std::uint32_t i = 0; i < frames; ++i) {
        PlayedFrame frame = PlayFrame(movie);
        // The last frame is not advanced past: that would rewind the movie and its sound.
        if (i + 1 < frames) ZambNextFrame(movie);
        WaitForFrame(movie, options, frame);
        result.Frames.push_back(frame);
    }
    Drain(movie);
    ZambSummary(movie, &result.Summary);
    KeepTrackCounters(movie, result);
    ZambClose(movie);
    CloseHandle(file);
    result.Streams = standin::TakePlayedStreams();
    return result;
}

}  // namespace zambrel::testing
