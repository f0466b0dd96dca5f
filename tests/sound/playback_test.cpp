// SPDX-License-Identifier: MIT
// Whole writer-made movies played through the headless harness.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "encoder/writer.h"
#include "playback_harness.h"
#include "test_movies.h"

namespace {

using zambrel::encoder::MovieRecipe;
using zambrel::testing::PlaybackHarness;
using zambrel::testing::PlaybackOptions;
using zambrel::testing::PlaybackResult;

constexpr std::uint32_t kFrames = 24;

// A tone whose chunks alternate short and long, so that a frame after an underrun is
// shorter than the longest chunk and gets padded.
zambrel::encoder::SoundTrack Tone(std::uint32_t rate, bool wide, bool stereo, bool compressed,
                                  std::uint32_t shortChunk, std::uint32_t longChunk) {
    zambrel::encoder::SoundTrack track;
    track.present = true;
    track.sampleRate = rate;
    track.is16Bit = wide;
    track.stereo = stereo;
    track.compressed = compressed;
    for (std::uint32_t i = 0; i < kFrames; ++i)
        track.chunkBytes.push_back(i % 2 ? longChunk : shortChunk);
    std::uint32_t total = kFrames / 2 * (shortChunk + longChunk);
    track.samples.resize(total);
    for (std::uint32_t i = 0; i < total; ++i)
        track.samples[i] = static_cast<std::uint8_t>(128 + 100 * std::sin(i * 0.05));
    return track;
}

std::vector<std::uint8_t> WriteTestMovie() {
    MovieRecipe recipe = test_movies::NumberedStillsRecipe(kFrames, -6666);
    recipe.tracks[0] = Tone(22050, false, false, true, 1000, 1940);
    recipe.tracks[1] = Tone(11025, true, true, false, 2000, 3880);
    recipe.tracks[3] = Tone(44100, true, true, true, 8000, 15520);
    auto written = zambrel::encoder::WriteMovie(recipe);
    EXPECT_TRUE(written.ok) << written.error;
    return written.bytes;
}

// What track n must have played: the device test's four bytes of silence, then each
// frame's sound, after the padding silence the frame put in front of it.
std::vector<std::uint8_t> ExpectedSound(const zambrel::encoder::SoundTrack& recipe,
                                        const PlaybackResult& result, int n, int* padded) {
    const std::uint8_t silence = recipe.is16Bit ? 0 : 0x80;
    std::vector<std::uint8_t> expected(4, silence);
    std::size_t from = 0;
    *padded = 0;
    for (std::size_t i = 0; i < result.Frames.size(); ++i) {
        const std::uint32_t chunk = recipe.chunkBytes[i];
        const std::uint32_t queued = result.Frames[i].Queued[n];
        EXPECT_GE(queued, chunk) << "track " << n << " frame " << i;
        const std::uint32_t pad = queued - chunk;
        if (pad != 0) {
            EXPECT_EQ(pad, result.MaxChunk[n] - chunk) << "track " << n << " frame " << i;
            ++*padded;
        }
        expected.insert(expected.end(), pad, silence);
        expected.insert(expected.end(), recipe.samples.begin() + from,
                        recipe.samples.begin() + from + chunk);
        from += chunk;
    }
    return expected;
}

TEST(Playback, EveryTrackPlaysItsSoundExactlyAndTheFramesFollowTheSound) {
    std::vector<std::uint8_t> movie = WriteTestMovie();
    PlaybackHarness harness;
    PlaybackOptions options;
    options.OpenFlags = ZAMB_TRACK0 | ZAMB_TRACK1 | ZAMB_TRACK3;
    PlaybackResult result = harness.Play(movie, options);
    ASSERT_TRUE(result.Opened);
    ASSERT_EQ(result.Frames.size(), kFrames);
    EXPECT_EQ(result.PrimaryTrack, 0);
    ASSERT_EQ(result.Streams.size(), 3u);

    const int tracks[] = {0, 1, 3};
    const auto recipe = [&] {
        MovieRecipe s;
        s.tracks[0] = Tone(22050, false, false, true, 1000, 1940);
        s.tracks[1] = Tone(11025, true, true, false, 2000, 3880);
        s.tracks[3] = Tone(44100, true, true, true, 8000, 15520);
        return s;
    }();
    for (int k = 0; k < 3; ++k) {
        const int n = tracks[k];
        int padded = 0;
        std::vector<std::uint8_t> expected = ExpectedSound(recipe.tracks[n], result, n, &padded);
        EXPECT_EQ(result.Overflows[n], 0u);
        EXPECT_EQ(static_cast<std::uint32_t>(padded), result.SoundSkips[n]) << "track " << n;
        EXPECT_EQ(result.Streams[k].Format.nSamplesPerSec, recipe.tracks[n].sampleRate);
        EXPECT_TRUE(result.Streams[k].Bytes == expected)
            << "track " << n << ": played " << result.Streams[k].Bytes.size() << " bytes, expected "
            << expected.size();
    }
    EXPECT_EQ(result.Summary.SoundSkips, result.SoundSkips[0]);

    // Paced by the sound: frames waited for it, and the movie took at least as long as the
    // sound of all but its last frame lasts.
    std::uint32_t waited = 0;
    for (const auto& frame : result.Frames) waited += frame.Waits != 0;
    EXPECT_GE(waited, kFrames - 2);
    const double soundMs = 1000.0 * (recipe.tracks[0].samples.size() - 1940) / 22050;
    EXPECT_GE(result.Frames.back().DoneAt - result.StartTime, soundMs);
    EXPECT_EQ(result.Summary.FramesPlayed, kFrames);
}

TEST(Playback, WithoutAnAudioDeviceTheClockPacesTheMovie) {
    std::vector<std::uint8_t> movie = WriteTestMovie();
    PlaybackHarness harness;
    standin::SelectAudioDevice(standin::AudioDeviceKind::None);
    PlaybackResult result = harness.Play(movie);
    ASSERT_TRUE(result.Opened);
    EXPECT_EQ(result.PrimaryTrack, -1);
    EXPECT_TRUE(result.Streams.empty());
    ASSERT_EQ(result.Frames.size(), kFrames);
    // One period (66.66 ms) between frames; the last one is not advanced past, so its
    // frame stays due.
    const std::uint32_t took = result.Frames.back().DoneAt - result.StartTime;
    EXPECT_GE(took, (kFrames - 1) * 6666 / 100 - 1);
    EXPECT_LE(took, (kFrames - 1) * 6666 / 100 + kFrames);
}

}  // namespace
