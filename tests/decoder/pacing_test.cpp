// SPDX-License-Identifier: MIT
// Waiting for frames by the clock and by the sound, switching the sound, the statistics.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "decoder/movie.h"
#include "playing/pacing.h"
#include "decoder/system/platform_services.h"
#include "fake_driver.h"
#include "platform/standin/kernel/seams.h"
#include "playing/audio.h"
#include "sound/track.h"

namespace {

class PacingTest : public ::testing::Test {
  protected:
    std::unique_ptr<Movie> movie = std::make_unique<Movie>();

    void SetUp() override {
        InstallPlatformServices();  // the clock the schedule is read from
        InstallFakeDriver();
        standin::UseTestClock(50000);
        movie->PrimaryTrack = -1;
        movie->NextFrameTime = 0xFFFFFFFF;
        movie->FramePeriod = 6666;
    }
    void TearDown() override {
        CloseMovieTracks(movie.get());
        SoundForgetDriver();
        standin::UseRealClock();
    }
    // A sound track with 400-byte chunks whose ring holds a known pattern.
    SoundTrack* OpenSoundTrack() {
        movie->TrackFormat[0] = TRACK_PRESENT | 22050;
        movie->TrackMaxBytes[0] = 400;
        OpenMovieTracks(movie.get(), ZAMB_TRACK0);
        SoundTrack* track = movie->Tracks[0];
        for (std::uint32_t i = 0; i < track->RingSize; ++i)
            track->RingStart[i] = static_cast<std::uint8_t>(i);
        track->RingWrite = track->RingStart + 300;  // the last chunk wraps round the start
        track->RingRead = track->RingStart + 100;
        RingFillStore(track, 200);
        track->BytesQueued = 5000;
        return track;
    }
    std::uint32_t Now() { return timeGetTime() * 100; }
};

TEST(PacingSettings, FrameRateIsKeptInTheHeadersForm) {
    ZambSetFrameRate(15);
    EXPECT_EQ(LibrarySettings.FrameRateSetting, -6666);
    ZambSetFrameRate(0);
    EXPECT_EQ(LibrarySettings.FrameRateSetting, 0);
    ZambSetFrameRate(-6600);
    EXPECT_EQ(LibrarySettings.FrameRateSetting, -6600);
    ZambSetReadSpeed(150000);
    EXPECT_EQ(LibrarySettings.ReadSpeedSetting, 150000);
    ZambSetReadSpeed(0);
}

TEST_F(PacingTest, ClockScheduleHoldsWithinTwoPeriodsAndRestartsBeyond) {
    EXPECT_EQ(ZambWait(movie.get()), 1);  // first call starts the schedule
    std::uint32_t due = movie->NextFrameTime;
    EXPECT_EQ(due, Now() + 6666);
    EXPECT_EQ(ZambWait(movie.get()), 1);

    standin::AdvanceTestClock(67 + 100);  // seen 100 ms after its due time
    EXPECT_EQ(ZambWait(movie.get()), 0);
    EXPECT_EQ(movie->NextFrameTime, due + 6666);
    EXPECT_EQ(movie->FrameDue, 1u);
    EXPECT_EQ(ZambWait(movie.get()), 0);  // stays due until the next frame is prepared

    movie->FrameDue = 0;
    due = movie->NextFrameTime;
    standin::SetTestClock((due + 20000) / 100);  // 200 ms late
    EXPECT_EQ(ZambWait(movie.get()), 0);
    EXPECT_EQ(movie->NextFrameTime, Now() + 6666);

    movie->FrameDue = 0;
    due = movie->NextFrameTime;
    standin::SetTestClock(due / 100 + 1);  // about a millisecond late: the schedule holds
    EXPECT_EQ(ZambWait(movie.get()), 0);
    EXPECT_EQ(movie->NextFrameTime, due + 6666);
}

// Frames seen a little after their time, as a sleeping player sees them, still come at the
// rate asked: the lateness is not carried into the next frame's time.
TEST_F(PacingTest, ClockScheduleDoesNotDriftWhenEveryFrameIsSeenLate) {
    ASSERT_EQ(ZambWait(movie.get()), 1);
    const std::uint32_t start = timeGetTime();
    for (int frame = 0; frame < 300; ++frame) {
        while (ZambWait(movie.get()) != 0) standin::AdvanceTestClock(1 + frame % 3);
        movie->FrameDue = 0;
    }
    // 300 periods of 66.66 ms, and at most the last frame's few milliseconds of lateness.
    EXPECT_GE(timeGetTime() - start, 19998u);
    EXPECT_LE(timeGetTime() - start, 20001u);
}

// A player that sleeps as long as it is told wakes when the frame is due, not before or after.
TEST_F(PacingTest, TimeToTheNextFrameIsExactlyTheWaitByTheClock) {
    EXPECT_EQ(MillisecondsToNextFrame(movie.get()), 0xFFFFFFFFu);  // no schedule yet
    ASSERT_EQ(ZambWait(movie.get()), 1);
    for (int frame = 0; frame < 50; ++frame) {
        const std::uint32_t wait = MillisecondsToNextFrame(movie.get());
        ASSERT_GT(wait, 0u);
        standin::AdvanceTestClock(wait - 1);
        ASSERT_EQ(ZambWait(movie.get()), 1);
        standin::AdvanceTestClock(1);
        ASSERT_EQ(ZambWait(movie.get()), 0);
        EXPECT_EQ(MillisecondsToNextFrame(movie.get()), 0xFFFFFFFFu);  // let through
        movie->FrameDue = 0;
    }
}

// By the sound the time to wait is the sound still to play before the frame's place, at
// the track's rate: sleeping that long lets the frame through, and sleeping much less
// does not.
TEST_F(PacingTest, TimeToTheNextFrameIsExactlyTheWaitByTheSound) {
    SoundTrack* track = OpenSoundTrack();
    ASSERT_GT(track->BytesPerSecond, 0u);
    const std::uint32_t start = timeGetTime();
    auto played = [&](std::uint32_t now) {
        return static_cast<std::uint32_t>(std::uint64_t{now - start} * track->BytesPerSecond /
                                          1000);
    };
    for (std::uint32_t frame = 1; frame <= 40; ++frame) {
        track->DueBase = frame * 1471;  // 1/15 s of 22,050 bytes a second, near enough
        movie->SoundSyncPending = 1;
        FakeDriver().Position = played(timeGetTime());
        const std::uint32_t wait = MillisecondsToNextFrame(movie.get());
        ASSERT_NE(wait, 0xFFFFFFFFu);
        if (wait > 1) {  // the position is whole bytes, so the wait may end 1 ms late
            FakeDriver().Position = played(timeGetTime() + wait - 2);
            ASSERT_EQ(ZambWait(movie.get()), 1) << frame;
        }
        standin::AdvanceTestClock(wait);
        FakeDriver().Position = played(timeGetTime());
        ASSERT_EQ(ZambWait(movie.get()), 0) << frame;
        EXPECT_EQ(MillisecondsToNextFrame(movie.get()), 0xFFFFFFFFu);  // nothing pending
    }
}

TEST_F(PacingTest, UntimedMovieWaitsOnlyOnTheFirstCall) {
    movie->FramePeriod = 0;
    EXPECT_EQ(ZambWait(movie.get()), 1);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ZambWait(movie.get()), 0);
        standin::AdvanceTestClock(5);
    }
    EXPECT_EQ(movie->FrameDue, 0u);
}

TEST_F(PacingTest, SoundPacedFrameWaitsUntilThePlayPositionReachesItsDuePosition) {
    SoundTrack* track = OpenSoundTrack();
    track->DueBase = 1000;
    movie->SoundSyncPending = 1;
    FakeDriver().Position = 991;
    EXPECT_EQ(ZambWait(movie.get()), 1);
    EXPECT_EQ(movie->SoundSyncPending, 1u);
    FakeDriver().Position = 992;  // within 8 bytes
    EXPECT_EQ(ZambWait(movie.get()), 0);
    EXPECT_EQ(movie->SoundSyncPending, 0u);
    FakeDriver().Position = 0;
    EXPECT_EQ(ZambWait(movie.get()), 0);  // nothing pending for this frame
    movie->ReadFailed = 1;
    movie->SoundSyncPending = 1;
    EXPECT_EQ(ZambWait(movie.get()), 0);
    EXPECT_EQ(ZambWait(nullptr), 0);
}

TEST_F(PacingTest, SoundBackOnAtTheSameFrameReplaysTheLastChunk) {
    SoundTrack* track = OpenSoundTrack();
    movie->FrameNumber = 7;
    EXPECT_EQ(ZambSoundOnOff(movie.get(), 0), 1);
    EXPECT_EQ(FakeDriver().Pauses, 1);
    EXPECT_EQ(RingFillLoad(track), 0u);
    EXPECT_EQ(track->BytesQueued, 4800u);
    EXPECT_EQ(track->RingRead, track->RingWrite);
    EXPECT_EQ(ZambSoundOnOff(movie.get(), 0), 1);  // already off
    EXPECT_EQ(FakeDriver().Pauses, 1);

    FakeDriver().Position = 1234;
    track->Underrun = 1;
    EXPECT_EQ(ZambSoundOnOff(movie.get(), 1), 1);
    EXPECT_EQ(movie->SoundOff, 0u);
    EXPECT_EQ(RingFillLoad(track), 400u);
    EXPECT_EQ(track->RingRead, track->RingEnd - 100);
    EXPECT_EQ(track->RingStart[0], 0);     // the sound that was there, not silence
    EXPECT_EQ(track->RingStart[299], 43);  // 299 mod 256
    EXPECT_EQ(track->BytesQueued, 5200u);
    EXPECT_EQ(track->DueBase, 1234u);
    EXPECT_EQ(track->DueFraction, 0u);
    EXPECT_EQ(track->Underrun, 0u);
    EXPECT_EQ(FakeDriver().Resumes, 1);
}

TEST_F(PacingTest, SoundBackOnLaterOrForcedStartsWithAChunkOfSilence) {
    for (std::int32_t on : {1, -1}) {
        SoundTrack* track = OpenSoundTrack();
        movie->FrameNumber = 7;
        ZambSoundOnOff(movie.get(), 0);
        if (on > 0) movie->FrameNumber = 8;
        EXPECT_EQ(ZambSoundOnOff(movie.get(), on), 1);
        EXPECT_EQ(RingFillLoad(track), 400u);
        EXPECT_EQ(track->RingStart[0], 0x80) << on;
        EXPECT_EQ(track->RingStart[299], 0x80) << on;
        EXPECT_EQ(*(track->RingEnd - 100), 0x80) << on;
        EXPECT_EQ(*(track->RingEnd - 101), static_cast<std::uint8_t>(track->RingSize - 101)) << on;
        CloseMovieTracks(movie.get());
    }
}

TEST_F(PacingTest, SoundBackOnAtFrameZeroLeavesTheRingAlone) {
    SoundTrack* track = OpenSoundTrack();
    movie->FrameNumber = 0;
    ZambSoundOnOff(movie.get(), 0);
    track->DueBase = 77;
    EXPECT_EQ(ZambSoundOnOff(movie.get(), 1), 1);
    EXPECT_EQ(RingFillLoad(track), 0u);
    EXPECT_EQ(track->DueBase, 77u);
}

TEST_F(PacingTest, SoundThatCannotComeBackStaysOff) {
    OpenSoundTrack();
    movie->FrameNumber = 3;
    ZambSoundOnOff(movie.get(), 0);
    FakeDriver().RefuseResume = true;
    EXPECT_EQ(ZambSoundOnOff(movie.get(), 1), 0);
    EXPECT_EQ(movie->SoundOff, 1u);
    FakeDriver().RefuseResume = false;
    EXPECT_EQ(ZambSoundOnOff(movie.get(), 1), 1);
    EXPECT_EQ(movie->SoundOff, 0u);
}

TEST_F(PacingTest, MovieWithoutSoundSwitchesSuccessfully) {
    EXPECT_EQ(ZambSoundOnOff(movie.get(), 0), 1);
    EXPECT_EQ(ZambSoundOnOff(movie.get(), 1), 1);
    EXPECT_EQ(movie->SoundOff, 0u);
    EXPECT_EQ(ZambSoundOnOff(nullptr, 1), 0);
}

TEST_F(PacingTest, SummaryOfAMovieThatPlayedNothing) {
    PlaybackSummary summary{};
    movie->FirstFrameTime = timeGetTime() - 5;
    movie->RingSize = 12288;
    movie->RingPeak = 8192;
    movie->ReadTime = 30;
    movie->OpenReadTime = 10;
    movie->BytesRead = 60000;
    ZambSummary(movie.get(), &summary);
    EXPECT_EQ(summary.TotalTime, 5u);
    EXPECT_EQ(summary.SlowestTime, 1000u);
    EXPECT_EQ(summary.SecondSlowestTime, 1000u);
    EXPECT_EQ(summary.SlowestFrame, 1u);
    EXPECT_EQ(summary.SecondSlowestFrame, 1u);
    EXPECT_EQ(summary.SoundSkips, 0u);
    EXPECT_EQ(summary.ReadTime, 20u);
    EXPECT_EQ(summary.DeviceSpeed, 2000000u);
    EXPECT_EQ(summary.ExtraMemory, 12288u);
    EXPECT_EQ(summary.ExtraMemoryUsed, 8192u);
    EXPECT_EQ(summary.FramePeriod, 6666u);
    ZambSummary(nullptr, &summary);
}

TEST_F(PacingTest, TheTwoSlowestFramesAreKept) {
    auto frame = [&](std::uint32_t number, std::uint32_t took) {
        movie->FrameNumber = number;
        movie->FrameStartTime = timeGetTime();
        movie->DecodeStartTime = timeGetTime();
        standin::AdvanceTestClock(took);
        FinishFrameStatistics(movie.get());
        EXPECT_EQ(movie->FrameStartTime, 0u);
    };
    frame(0, 30);
    frame(1, 50);
    frame(2, 40);
    EXPECT_EQ(movie->SlowestTime, 50u);
    EXPECT_EQ(movie->SlowestFrame, 1u);
    EXPECT_EQ(movie->SecondSlowestTime, 40u);
    EXPECT_EQ(movie->SecondSlowestFrame, 2u);
    frame(1, 70);  // the slowest frame again (a loop): it does not push itself down
    EXPECT_EQ(movie->SlowestTime, 70u);
    EXPECT_EQ(movie->SecondSlowestFrame, 2u);
    EXPECT_EQ(movie->SecondSlowestTime, 40u);
    frame(1, 45);  // slower than the second, but it is the slowest frame
    EXPECT_EQ(movie->SecondSlowestTime, 40u);
    frame(3, 60);
    EXPECT_EQ(movie->SecondSlowestTime, 60u);
    EXPECT_EQ(movie->SecondSlowestFrame, 3u);
    EXPECT_EQ(movie->DecodeTime, 30u + 50 + 40 + 70 + 45 + 60);
}

}  // namespace
