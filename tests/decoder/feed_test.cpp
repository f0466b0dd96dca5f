// SPDX-License-Identifier: MIT
// Opening tracks and feeding frames into their rings, against a fake driver.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "decoder/audio_decode.h"
#include "decoder/movie.h"
#include "fake_driver.h"
#include "playing/audio.h"
#include "sound/track.h"

namespace {

constexpr std::uint32_t kRaw8Mono = TRACK_PRESENT | 11025;

// A one-frame movie record built by hand: the frame holds the given raw chunks.
class FeedTest : public ::testing::Test {
  protected:
    std::unique_ptr<Movie> movie = std::make_unique<Movie>();
    std::vector<std::uint8_t> frame;
    std::uint32_t frameSize[1] = {0};
    std::uint8_t frameType[1] = {0};

    void SetUp() override { InstallFakeDriver(); }
    void TearDown() override {
        CloseMovieTracks(movie.get());
        SoundForgetDriver();
    }

    void OpenTracks(std::uint32_t trackBits, std::uint32_t format, std::uint32_t framePeriod,
                    std::uint32_t maxBytes = 400) {
        movie->FramePeriod = framePeriod;
        movie->FrameCount = 1;
        movie->PrimaryTrack = -1;
        for (int n = 0; n < ZAMB_TRACK_COUNT; ++n) {
            movie->TrackFormat[n] = format;
            movie->TrackMaxBytes[n] = maxBytes;
        }
        OpenMovieTracks(movie.get(), trackBits);
    }

    // Chunks per track (empty = none), then a few bytes of video.
    void SetFrame(const std::vector<std::vector<std::uint8_t>>& chunks) {
        frame.clear();
        std::vector<std::size_t> starts(ZAMB_TRACK_COUNT, SIZE_MAX);
        for (std::size_t n = 0; n < chunks.size(); ++n) {
            if (chunks[n].empty()) continue;
            starts[n] = frame.size();
            std::uint32_t length = static_cast<std::uint32_t>(chunks[n].size() + 4);
            for (int i = 0; i < 4; ++i) frame.push_back(static_cast<std::uint8_t>(length >> 8 * i));
            frame.insert(frame.end(), chunks[n].begin(), chunks[n].end());
        }
        frame.resize(frame.size() + 16, 0);
        frameSize[0] = static_cast<std::uint32_t>(frame.size());
        movie->FrameSizes = frameSize;
        movie->FrameTypes = frameType;
        movie->FrameData = frame.data();
        for (int n = 0; n < ZAMB_TRACK_COUNT; ++n)
            movie->TrackChunk[n] = starts[n] == SIZE_MAX ? nullptr : frame.data() + starts[n];
    }

    SoundTrack* Track(int n) { return movie->Tracks[n]; }
    std::vector<std::uint8_t> RingBytes(int n, std::uint32_t count) {
        return std::vector<std::uint8_t>(Track(n)->RingStart, Track(n)->RingStart + count);
    }
};

std::vector<std::uint8_t> Bytes(std::size_t count, std::uint8_t first) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(first + i);
    return bytes;
}

TEST_F(FeedTest, TrackSizesFollowTheFormatAndThePeriod) {
    OpenTracks(ZAMB_TRACK0, TRACK_COMPRESSED | TRACK_PRESENT | TRACK_STEREO | 22050, 6666, 3001);
    SoundTrack* track = Track(0);
    ASSERT_NE(track, nullptr);
    EXPECT_EQ(track->BytesPerSecond, 44100u);
    EXPECT_EQ(track->FrameBytesFixed, 3010258u);
    EXPECT_EQ(track->RingSize, 53248u);
    EXPECT_EQ(track->LateLimitFixed, 44100u * 512);
    EXPECT_EQ(track->MaxChunk, 3000u);
    EXPECT_EQ(movie->PrimaryTrack, 0);
    EXPECT_EQ(SoundTracksOpen, 1);
    EXPECT_NE(AudioScratch(), nullptr);
    EXPECT_EQ(movie->OpenFlags & ZAMB_TRACK_MASK, ZAMB_TRACK0);
}

TEST_F(FeedTest, TracksThatCannotOpenAreLeftOut) {
    movie->TrackFormat[1] = 22050;          // not present
    movie->TrackFormat[2] = TRACK_PRESENT;  // rate 0
    movie->TrackFormat[3] = kRaw8Mono;
    movie->PrimaryTrack = -1;
    std::uint32_t memory = movie->MemoryInUse;
    OpenMovieTracks(movie.get(), ZAMB_TRACK1 | ZAMB_TRACK2);
    EXPECT_EQ(movie->PrimaryTrack, -1);
    EXPECT_EQ(movie->Tracks[1], nullptr);
    EXPECT_EQ(movie->Tracks[2], nullptr);
    EXPECT_EQ(movie->MemoryInUse, memory);  // the records were taken off again
    FakeDriver().RefuseOpen = true;
    OpenMovieTracks(movie.get(), ZAMB_TRACK3);
    EXPECT_EQ(movie->Tracks[3], nullptr);
    EXPECT_EQ(movie->MemoryInUse, memory + kAudioScratchBytes);  // only the shared scratch
    EXPECT_EQ(SoundTracksOpen, 0);
}

TEST_F(FeedTest, WithoutAChunkForTheFirstTrackNoTrackIsFed) {
    OpenTracks(ZAMB_TRACK0 | ZAMB_TRACK1, kRaw8Mono, 6666);
    SetFrame({{}, Bytes(100, 1)});
    FeedAudio(movie.get());
    EXPECT_EQ(Track(0)->NoSoundThisFrame, 1u);
    EXPECT_EQ(RingFillLoad(Track(1)), 0u);
    EXPECT_EQ(FakeDriver().Services, 0);
    EXPECT_EQ(movie->SoundSyncPending, 1u);

    SetFrame({Bytes(50, 7), Bytes(100, 1)});
    FeedAudio(movie.get());
    EXPECT_EQ(Track(0)->NoSoundThisFrame, 0u);
    EXPECT_EQ(RingBytes(0, 50), Bytes(50, 7));
    EXPECT_EQ(RingBytes(1, 100), Bytes(100, 1));
    EXPECT_EQ(Track(1)->BytesQueued, 100u);
    EXPECT_EQ(FakeDriver().Services, 1);
}

TEST_F(FeedTest, SoundBeyondTheRingsRoomIsCutAndCounted) {
    OpenTracks(ZAMB_TRACK0, kRaw8Mono, 6666);
    SoundTrack* track = Track(0);
    const std::uint32_t size = track->RingSize;
    std::memset(track->RingStart, 0, size);
    RingFillStore(track, size - 30);
    track->RingWrite = track->RingStart + 10;
    SetFrame({Bytes(100, 1)});
    FeedAudio(movie.get());
    EXPECT_EQ(track->Overflows, 1u);
    EXPECT_EQ(RingFillLoad(track), size);
    EXPECT_EQ(track->RingWrite, track->RingStart + 40);
    EXPECT_EQ(std::vector<std::uint8_t>(track->RingStart + 10, track->RingStart + 40),
              Bytes(30, 1));
    EXPECT_EQ(track->RingStart[40], 0);
}

TEST_F(FeedTest, AfterAnUnderrunOneShortFrameIsPaddedWithSilence) {
    OpenTracks(ZAMB_TRACK0, kRaw8Mono, 0, 203);  // untimed: only padding moves the due position
    SoundTrack* track = Track(0);
    SetFrame({Bytes(50, 1)});
    FeedAudio(movie.get());  // something queued before: padding may apply
    track->Underrun = 1;
    const std::uint32_t dueBase = track->DueBase;
    FeedAudio(movie.get());
    EXPECT_EQ(track->SoundSkips, 1u);
    EXPECT_EQ(track->UnderrunSeen, 1u);
    EXPECT_EQ(track->DueBase, dueBase + 150);
    EXPECT_EQ(std::vector<std::uint8_t>(track->RingStart + 50, track->RingStart + 200),
              std::vector<std::uint8_t>(150, 0x80));
    EXPECT_EQ(std::vector<std::uint8_t>(track->RingStart + 200, track->RingStart + 250),
              Bytes(50, 1));
    EXPECT_EQ(track->BytesQueued, 250u);
    EXPECT_EQ(RingFillLoad(track), 250u);

    FeedAudio(movie.get());  // the hand-shake ends: no more padding
    EXPECT_EQ(track->SoundSkips, 1u);
    EXPECT_EQ(track->Underrun, 0u);
    EXPECT_EQ(track->UnderrunSeen, 0u);
    EXPECT_EQ(track->BytesQueued, 300u);
}

TEST_F(FeedTest, UntimedMovieNeverWaitsForItsSound) {
    OpenTracks(ZAMB_TRACK0, kRaw8Mono, 0);
    SoundTrack* track = Track(0);
    EXPECT_EQ(track->FrameBytesFixed, 0u);
    SetFrame({Bytes(100, 1)});
    FeedAudio(movie.get());
    FeedAudio(movie.get());
    EXPECT_EQ(movie->SoundSyncPending, 0u);
    EXPECT_EQ(track->DueBase + track->DueFraction / 1024, 0u);
}

TEST_F(FeedTest, DuePositionNeverRunsAheadOfTheDeliveredSound) {
    OpenTracks(ZAMB_TRACK0, kRaw8Mono, 100000);  // a second per frame: 11,025 bytes due
    SoundTrack* track = Track(0);
    SetFrame({Bytes(100, 1)});
    const std::uint32_t lateAhead = track->LateLimitFixed;
    FeedAudio(movie.get());
    EXPECT_EQ(track->DueBase, 100u);
    EXPECT_EQ(track->DueFraction, 0u);
    EXPECT_EQ(track->LateLimitFixed, lateAhead);  // still half a second ahead of the due position
}

TEST_F(FeedTest, ChunkRunningPastItsFrameIsCutToTheFrame) {
    OpenTracks(ZAMB_TRACK0, kRaw8Mono, 6666);
    SetFrame({Bytes(40, 1)});
    frame[0] = 0xFF;  // length word claims far more than the frame holds
    frame[1] = 0xFF;
    FeedAudio(movie.get());
    EXPECT_EQ(Track(0)->BytesQueued, frameSize[0] - 4);
    EXPECT_EQ(Track(0)->Overflows, 0u);
}

TEST_F(FeedTest, CompressedChunkThatDeliversLessPlaysSilenceForTheRest) {
    OpenTracks(ZAMB_TRACK0, TRACK_COMPRESSED | kRaw8Mono, 6666);
    SoundTrack* track = Track(0);
    std::memset(track->RingStart, 0x11, track->RingSize);  // stale sound
    // decoded size 64, but the stream says "no samples"
    SetFrame({{64, 0, 0, 0, 0x00, 0, 0, 0}});
    FeedAudio(movie.get());
    EXPECT_EQ(RingFillLoad(track), 64u);
    EXPECT_EQ(RingBytes(0, 64), std::vector<std::uint8_t>(64, 0x80));
}

TEST_F(FeedTest, VideoIsLateOnceThePlayPositionPassesHalfASecondAhead) {
    OpenTracks(ZAMB_TRACK0, kRaw8Mono, 6666);
    SetFrame({Bytes(100, 1)});
    FeedAudio(movie.get());
    SoundTrack* track = Track(0);
    const std::uint32_t limit = track->DueBase + track->LateLimitFixed / 1024;
    FakeDriver().Position = limit - 1;
    EXPECT_FALSE(VideoIsLate(movie.get()));
    EXPECT_EQ(movie->SoundSyncPending, 1u);
    FakeDriver().Position = limit;
    EXPECT_TRUE(VideoIsLate(movie.get()));
    EXPECT_EQ(movie->SoundSyncPending, 0u);
    track->NoSoundThisFrame = 1;
    EXPECT_FALSE(VideoIsLate(movie.get()));
}

}  // namespace

namespace {

TEST_F(FeedTest, RewindRestartsTheTracksOnlyWhenNoOtherMovieHasSound) {
    OpenTracks(ZAMB_TRACK0 | ZAMB_TRACK2, kRaw8Mono, 6666);
    SetFrame({Bytes(100, 1), {}, Bytes(80, 1)});
    FeedAudio(movie.get());
    movie->FrameNumber = 0;
    SoundTracksOpen += 1;  // a track of another movie
    RestartMovieTracks(movie.get());
    EXPECT_EQ(FakeDriver().Resets, 0);
    EXPECT_EQ(Track(0)->BytesQueued, 100u);
    SoundTracksOpen -= 1;

    movie->FrameNumber = 5;  // not a rewind
    RestartMovieTracks(movie.get());
    EXPECT_EQ(FakeDriver().Resets, 0);

    movie->FrameNumber = 0;
    RestartMovieTracks(movie.get());
    EXPECT_EQ(FakeDriver().Resets, 2);
    for (int n : {0, 2}) {
        EXPECT_EQ(Track(n)->BytesQueued, 0u);
        EXPECT_EQ(RingFillLoad(Track(n)), 0u);
        EXPECT_EQ(Track(n)->RingRead, Track(n)->RingWrite);
        EXPECT_EQ(Track(n)->DueBase + Track(n)->DueFraction, 0u);
    }
}

}  // namespace
