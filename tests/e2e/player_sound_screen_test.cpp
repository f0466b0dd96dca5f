// SPDX-License-Identifier: MIT
// The player program run whole on the headless host, judged by what it played and showed:
// the sound the simulated device captured, the screen dumped after each change, and the
// keys that must or must not act.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "player_run.h"

namespace zambrel::testing {
namespace {

constexpr std::int32_t kFastPeriod = -1000;  // 10 ms a frame

// Each disabled key leaves the movie to play all its 20 frames.
TEST(PlayerKeys, DisabledKeysAreIgnored) {
    PlayerFolder folder;
    folder.Write("one.zmb", SmallMovie(20, kFastPeriod));
    const struct {
        const char* switches;
        const char* input;
    } cases[] = {
        // A pause that took would hold the movie until the Escape.
        {"-U1", "at 30 ms key Space\nat 3000 ms key Escape\n"},
        {"-U4", "at 50 ms key Escape\n"},
        // The close button quits as Escape does, so it is disabled with it.
        {"-U4", "at 30 ms close\nat 40 ms key Escape\n"},
    };
    for (const auto& c : cases) {
        PlayerRun run = folder.Run(std::string(c.switches) + " -S one.zmb", c.input);
        EXPECT_EQ(run.NumberAfter("Total frames played: "), 20) << c.switches << "\n" << run.Output;
    }
}

TEST(PlayerKeys, TheCloseButtonQuits) {
    PlayerFolder folder;
    folder.Write("one.zmb", SmallMovie(20, kFastPeriod));
    PlayerRun enabled = folder.Run("-S one.zmb", "at 30 ms close\n");
    EXPECT_LT(enabled.NumberAfter("Total frames played: "), 20) << enabled.Output;
}

// A key typed while the player is still starting acts once its window is there.
TEST(PlayerKeys, KeyDueBeforeTheWindowExistsActsOnTheFirstFrame) {
    PlayerFolder folder;
    folder.Write("long.zmb", SmallMovie(30, 1000));
    PlayerRun run = folder.Run("-S long.zmb", "at 0 ms key Escape\n");
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.NumberAfter("Total frames played: "), 1) << run.Output;
}

// Where in the movie's sound each captured sample lies; silence (0) is left out.
std::vector<long> PlacesInTheSound(const std::vector<std::int16_t>& samples) {
    std::vector<long> places;
    for (std::int16_t sample : samples)
        if (sample != 0) places.push_back(sample - CountingSampleAt(0));
    return places;
}

// The places split where they stop running on by one sample.
std::vector<std::pair<long, long>> Runs(const std::vector<long>& places) {
    std::vector<std::pair<long, long>> runs;
    for (long place : places) {
        if (!runs.empty() && place == runs.back().second + 1)
            runs.back().second = place;
        else
            runs.push_back({place, place});
    }
    return runs;
}

// One second of sound, paused for one and a half seconds after its first frame. The device
// is let go of while paused, so the capture holds no long silence, and the sound goes on
// from the frame where it stopped, its last chunk played again.
TEST(PlayerSound, PauseStopsTheSoundAndResumeGoesOnFromThere) {
    PlayerFolder folder;
    constexpr int kFrames = 10;
    folder.Write("count.zmb", CountingSoundMovie(kFrames, -10000));
    PlayerRun run = folder.Run("-S count.zmb", "at 150 ms key Space\nat 1650 ms key Space\n",
                               "ZAMBREL_AUDIO_CAPTURE=sound.wav");
    ASSERT_EQ(run.NumberAfter("Total frames played: "), kFrames) << run.Output;
    const std::vector<std::int16_t> samples = Samples16(WavData(folder.Path() + "/sound.wav"));
    ASSERT_FALSE(samples.empty());
    const long soundLength = kFrames * static_cast<long>(kCountingRate) / 10;
    const long frameSamples = kCountingRate / 10;
    const auto silent = std::count(samples.begin(), samples.end(), 0);
    EXPECT_LT(silent, static_cast<long>(kCountingRate) * 3 / 4) << "the sound played on paused";

    const auto runs = Runs(PlacesInTheSound(samples));
    ASSERT_FALSE(runs.empty());
    EXPECT_EQ(runs.front().first, 0);
    ASSERT_LE(runs.size(), 2u) << "more than the one break of the pause";
    if (runs.size() == 2) {
        const long jump = runs[1].first - (runs[0].second + 1);
        EXPECT_LE(std::labs(jump), 2 * frameSamples) << jump;
    }
    // The chunk played again has put the sound behind the pictures, and the movie is not
    // closed before the rest has played.
    EXPECT_EQ(runs.back().second, soundLength - 1);
}

// A movie that ends by reaching its last frame is closed only once its sound has been
// heard to the end: through both drivers, at two rates, mono and stereo, and in lists,
// where each movie's end is heard before the next opens.
TEST(PlayerSound, EveryMovieThatEndsIsHeardToItsLastSample) {
    PlayerFolder folder;
    constexpr int kFrames = 8;
    const struct {
        std::uint32_t rate;
        bool stereo;
        const char* switches;
        int plays;
    } cases[] = {
        {kCountingRate, false, "", 1}, {kCountingRate, false, "/Z", 1},
        {22050, true, "", 1},          {22050, true, "/Z", 1},
        {kCountingRate, false, "", 2}, {kCountingRate, false, "/Z", 2},
    };
    for (const auto& c : cases) {
        folder.Write("count.zmb", CountingSoundMovie(kFrames, -6666, c.rate, c.stereo));
        const std::string names = c.plays == 1 ? "count.zmb" : "count.zmb count.zmb";
        const std::string trace = std::string(c.switches) + " " + std::to_string(c.rate) +
                                  (c.stereo ? " stereo " : " mono ") + names;
        std::filesystem::remove(folder.Path() + "/sound.wav");
        PlayerRun run = folder.Run(std::string(c.switches) + " -S " + names, "",
                                   "ZAMBREL_AUDIO_CAPTURE=sound.wav");
        ASSERT_EQ(run.Status, 0) << trace << "\n" << run.Output;
        std::vector<std::int16_t> samples = Samples16(WavData(folder.Path() + "/sound.wav"));
        if (c.stereo) {  // both channels carry the same count: keep the left one
            for (std::size_t i = 0; i < samples.size() / 2; ++i) samples[i] = samples[2 * i];
            samples.resize(samples.size() / 2);
        }
        const long soundLength = static_cast<long>(kFrames * 6666LL * c.rate / 100000);
        std::vector<long> expected;
        for (int play = 0; play < c.plays; ++play)
            for (long place = 0; place < soundLength; ++place) expected.push_back(place);
        const std::vector<long> heard = PlacesInTheSound(samples);
        EXPECT_EQ(heard.size(), expected.size()) << trace;
        EXPECT_TRUE(heard == expected) << trace << ": the sound heard is not the movie's";
    }
}

// The run of one colour from the bar's first pixel on.
int RunLength(const RgbImage& screen, int x, int y) {
    int length = 0;
    while (x + length < screen.width && screen.At(x + length, y) == screen.At(x, y)) ++length;
    return length;
}

// Sound only: a 160-pixel bar in place of the picture that grows frame by frame, in a colour
// that stands out from the part still to fill.
TEST(PlayerScreen, SoundOnlyShowsAProgressBarThatFills) {
    PlayerFolder folder;
    constexpr int kFrames = 8;
    constexpr int kWidth = 160;
    folder.Write("one.zmb", SmallMovie(kFrames, -5000));
    std::filesystem::create_directory(folder.Path() + "/dump");
    // Without a frame (/I4) the window is the bar's one row, at 40, 50 on the screen.
    PlayerRun run = folder.Run("-O -I4 -X40 -Y50 one.zmb", "",
                               "ZAMBREL_SCREEN=320x240x32 ZAMBREL_SCREEN_DUMP=dump");
    ASSERT_EQ(run.Status, 0) << run.Output;
    std::vector<std::string> dumps;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path() + "/dump"))
        dumps.push_back(entry.path().string());
    std::sort(dumps.begin(), dumps.end());
    std::vector<int> lengths;
    for (const std::string& dump : dumps) {
        RgbImage screen;
        ASSERT_TRUE(ReadPng(dump, &screen)) << dump;
        ASSERT_EQ(screen.width, 320);
        if (screen.At(40, 50) == screen.At(39, 50)) continue;  // no window there
        const int length = RunLength(screen, 40, 50);
        if (length >= kWidth) continue;  // a window cleared before its first frame
        EXPECT_NE(screen.At(40, 50), screen.At(40 + length, 50)) << dump;
        lengths.push_back(length);
    }
    ASSERT_GE(lengths.size(), 2u);
    EXPECT_TRUE(std::is_sorted(lengths.begin(), lengths.end()));
    EXPECT_LE(lengths.front(), kWidth / kFrames + 1);
    EXPECT_GE(lengths.back(), kWidth * (kFrames - 1) / kFrames);
}

}  // namespace
}  // namespace zambrel::testing
