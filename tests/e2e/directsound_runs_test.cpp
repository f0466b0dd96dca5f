// SPDX-License-Identifier: MIT
// The player program run whole with /Z on the headless host: its sound goes through
// DirectSound and arrives complete, through pauses and lost focus alike.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "encoder/writer.h"
#include "player_run.h"
#include "test_movies.h"

namespace zambrel::testing {
namespace {

constexpr int kFrames = 24;
constexpr std::uint32_t kRate = 22050;
constexpr std::uint8_t kSilence = 0x80;

// A tone that never sits on the silence level, so that added silence can be told apart.
std::vector<std::uint8_t> ToneSamples() {
    std::vector<std::uint8_t> samples(kFrames * kRate / 15);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        auto value = static_cast<std::uint8_t>(128 + std::lround(90 * std::sin(i * 0.031)));
        samples[i] = value == kSilence ? kSilence + 1 : value;
    }
    return samples;
}

std::vector<std::uint8_t> ToneMovie(const std::vector<std::uint8_t>& samples) {
    encoder::MovieRecipe recipe = test_movies::NumberedStillsRecipe(kFrames, -6666);
    recipe.tracks[0].present = true;
    recipe.tracks[0].sampleRate = kRate;
    recipe.tracks[0].compressed = false;
    recipe.tracks[0].samples = samples;
    encoder::WriteResult written = encoder::WriteMovie(recipe);
    EXPECT_TRUE(written.ok) << written.error;
    return written.bytes;
}

// The capture's sample bytes, after its 44-byte header; empty unless it is 8-bit mono at
// the track's rate, the format the simulated device takes from the first stream.
std::vector<std::uint8_t> CapturedSamples(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    if (bytes.size() < 44 || bytes[22] != 1 || bytes[34] != 8) return {};
    const std::uint32_t rate = bytes[24] | bytes[25] << 8 | bytes[26] << 16;
    if (rate != kRate) return {};
    return {bytes.begin() + 44, bytes.end()};
}

// Whether `captured` is `decoded` with nothing but silence put in between: every byte that
// does not continue the decoded sound must be silence, and the sound must be heard to its
// last sample: the player lets it play out before it closes the movie.
::testing::AssertionResult IsSoundWithSilenceAdded(const std::vector<std::uint8_t>& captured,
                                                   const std::vector<std::uint8_t>& decoded) {
    std::size_t next = 0;
    for (std::size_t i = 0; i < captured.size(); ++i) {
        if (next < decoded.size() && captured[i] == decoded[next]) {
            ++next;
        } else if (captured[i] != kSilence) {
            return ::testing::AssertionFailure()
                   << "byte " << i << " is " << int(captured[i]) << " where sample " << next << " ("
                   << int(decoded[next < decoded.size() ? next : 0]) << ") or silence was due";
        }
    }
    if (next < decoded.size())
        return ::testing::AssertionFailure()
               << "only " << next << " of " << decoded.size() << " samples were heard";
    return ::testing::AssertionSuccess();
}

long Count(const std::string& text, const std::string& what) {
    long count = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

class DirectSoundRuns : public ::testing::Test {
  protected:
    PlayerFolder folder;
    std::vector<std::uint8_t> samples = ToneSamples();
    std::string capture = folder.Path() + "/capture.wav";

    void SetUp() override {
        folder.Write("tone.zmb", ToneMovie(samples));
        setenv("ZAMBREL_AUDIO_CAPTURE", capture.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("ZAMBREL_AUDIO_CAPTURE");
        unsetenv("ZAMBREL_MISSING");
    }
};

TEST_F(DirectSoundRuns, WholeMoviePlaysItsSoundThroughDirectSound) {
    PlayerRun run = folder.Run("/Z /S tone.zmb");
    EXPECT_EQ(run.Status, 0) << run.Output;
    EXPECT_TRUE(run.Shows("Using DirectSound\r\n")) << run.Output;
    EXPECT_FALSE(run.Shows("Using standard waveOut"));
    EXPECT_EQ(run.NumberAfter("Total frames played: "), kFrames) << run.Output;
    EXPECT_EQ(run.NumberAfter("Skipped frames: "), 0);
    // The frames wait for the sound, so the movie cannot end before its sound has played.
    EXPECT_GE(run.NumberAfter("Total playback time: "), 1);
    EXPECT_TRUE(IsSoundWithSilenceAdded(CapturedSamples(capture), samples));
}

TEST_F(DirectSoundRuns, WithoutDirectSoundWaveOutputPlays) {
    setenv("ZAMBREL_MISSING", "dsound", 1);
    PlayerRun run = folder.Run("/Z /S tone.zmb");
    EXPECT_EQ(run.Status, 0) << run.Output;
    EXPECT_TRUE(run.Shows("Using standard waveOut")) << run.Output;
    EXPECT_FALSE(run.Shows("Using DirectSound"));
    EXPECT_EQ(run.NumberAfter("Total frames played: "), kFrames);
    EXPECT_TRUE(IsSoundWithSilenceAdded(CapturedSamples(capture), samples));
}

// Space switches the sound off with the pictures, which gives the buffer and the object
// back; the second makes them anew for the player's window, and the movie plays to its end.
TEST_F(DirectSoundRuns, PauseAndResumeWithSpace) {
    PlayerRun run = folder.Run("/Z /S tone.zmb", "at 300 ms key Space\nat 900 ms key Space\n");
    EXPECT_EQ(run.Status, 0) << run.Output;
    EXPECT_EQ(run.NumberAfter("Total frames played: "), kFrames) << run.Output;
    EXPECT_EQ(Count(run.Output, "Using DirectSound"), 1);
    EXPECT_EQ(Count(run.Output, "DirectSound using HWND: "), 3) << run.Output;
}

// Losing the focus switches the sound off, which gives the buffer and the object back; the
// focus regained makes them anew for the player's window.
TEST_F(DirectSoundRuns, FocusLossReleasesTheSoundAndItsReturnBringsItBack) {
    PlayerRun run = folder.Run("/Z /S tone.zmb", "at 300 ms deactivate\nat 900 ms activate\n");
    EXPECT_EQ(run.Status, 0) << run.Output;
    EXPECT_EQ(run.NumberAfter("Total frames played: "), kFrames) << run.Output;
    EXPECT_EQ(Count(run.Output, "DirectSound using HWND: "), 3) << run.Output;
    EXPECT_EQ(Count(run.Output, "Unable to"), 1) << run.Output;  // no window at the first open
}

}  // namespace
}  // namespace zambrel::testing
