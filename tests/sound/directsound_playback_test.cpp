// SPDX-License-Identifier: MIT
// A writer-made movie played frame by frame through the DirectSound driver in test time.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "encoder/writer.h"
#include "playback_harness.h"
#include "sound/directsound.h"
#include "sound/directsound_seams.h"
#include "sound/driver.h"
#include "sound/seams.h"
#include "test_movies.h"

namespace {

constexpr std::uint32_t kFrames = 30;
constexpr std::uint32_t kRate = 22050;
constexpr std::uint32_t kFrameBytes = kRate / 15;

std::vector<std::uint8_t> Tone() {
    std::vector<std::uint8_t> samples(kFrames * kFrameBytes);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        auto value = static_cast<std::uint8_t>(128 + std::lround(90 * std::sin(i * 0.037)));
        samples[i] = value == 0x80 ? 0x81 : value;
    }
    return samples;
}

std::vector<std::uint8_t> Movie(const std::vector<std::uint8_t>& samples) {
    zambrel::encoder::MovieRecipe recipe = test_movies::NumberedStillsRecipe(kFrames, -6666);
    recipe.tracks[0].present = true;
    recipe.tracks[0].sampleRate = kRate;
    recipe.tracks[0].compressed = false;
    recipe.tracks[0].samples = samples;
    auto written = zambrel::encoder::WriteMovie(recipe);
    EXPECT_TRUE(written.ok) << written.error;
    return written.bytes;
}

TEST(DirectSoundPlayback, MovieSoundArrivesWholeAndPacesTheFrames) {
    zambrel::testing::PlaybackHarness harness;
    SoundForgetDriver();
    DirectSoundForgetState();
    ASSERT_TRUE(SoundUseDirectSound(nullptr));
    const auto samples = Tone();
    zambrel::testing::PlaybackOptions options;
    options.WaitStep = 2;
    auto result = harness.Play(Movie(samples), options);
    SoundForgetDriver();
    ASSERT_TRUE(result.Opened);
    ASSERT_EQ(result.Frames.size(), kFrames);
    ASSERT_EQ(result.Streams.size(), 1u);

    // Only silence is added between the samples, and every sample is heard.
    const auto& heard = result.Streams[0].Bytes;
    std::size_t next = 0;
    for (std::size_t i = 0; i < heard.size(); ++i) {
        if (next < samples.size() && heard[i] == samples[next]) {
            ++next;
        } else {
            ASSERT_EQ(heard[i], 0x80) << "byte " << i << ", sample " << next;
        }
    }
    EXPECT_EQ(next, samples.size());

    // A frame is done only once the sound before it has played.
    for (std::uint32_t k = 1; k < kFrames; ++k) {
        const std::uint32_t elapsed = result.Frames[k].DoneAt - result.StartTime;
        EXPECT_GE(std::uint64_t{elapsed} * kRate / 1000 + kFrameBytes,
                  std::uint64_t{k} * kFrameBytes)
            << "frame " << k;
        EXPECT_GE(result.Frames[k].DoneAt, result.Frames[k - 1].DoneAt);
    }
}

}  // namespace
