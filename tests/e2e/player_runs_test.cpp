// SPDX-License-Identifier: MIT
// The player program run whole on the headless host: which movies open when, how often
// their frames play, and what the keys and the summary do.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "player_run.h"
#include "test_movies.h"

namespace zambrel::testing {
namespace {

using Names = std::vector<std::string>;

// 10 ms a frame keeps each run to a fraction of a second.
constexpr std::int32_t kFastPeriod = -1000;

TEST(PlayerRuns, OneMoviePlaysEveryFrameOnceAndEnds) {
    PlayerFolder folder;
    folder.Write("one.zmb", SmallMovie(10, kFastPeriod));
    PlayerRun run = folder.Run("-S one.zmb");
    EXPECT_EQ(run.Status, 0) << run.Output;
    EXPECT_EQ(run.Opened(), Names{"one.zmb"});
    EXPECT_EQ(run.NumberAfter("Total frames played: "), 10) << run.Output;
    EXPECT_EQ(run.NumberAfter("Skipped frames: "), 0);
}

TEST(PlayerRuns, LoneMovieLoopsWithoutReopening) {
    PlayerFolder folder;
    folder.Write("one.zmb", SmallMovie(10, kFastPeriod));
    PlayerRun run = folder.Run("-L3 -S one.zmb");
    EXPECT_EQ(run.Opened(), Names{"one.zmb"}) << run.Output;
    EXPECT_EQ(run.NumberAfter("Total frames played: "), 30);
}

TEST(PlayerRuns, ListLoopsReopenEveryMovieInOrder) {
    PlayerFolder folder;
    folder.Write("a.zmb", SmallMovie(5, kFastPeriod));
    folder.Write("b.zmb", SmallMovie(5, kFastPeriod));
    PlayerRun run = folder.Run("/L2 a.zmb b");
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Opened(), (Names{"a.zmb", "b.Zmb", "a.zmb", "b.Zmb"})) << run.Output;
}

TEST(PlayerRuns, MissingFileStopsTheRestOfTheList) {
    PlayerFolder folder;
    folder.Write("a.zmb", SmallMovie(5, kFastPeriod));
    folder.Write("b.zmb", SmallMovie(5, kFastPeriod));
    PlayerRun run = folder.Run("-S a.zmb gone.zmb b.zmb");
    EXPECT_EQ(run.Status, 1);
    EXPECT_TRUE(run.Shows("Error opening file: gone.zmb.")) << run.Output;
    const Names opened = run.Opened();
    ASSERT_FALSE(opened.empty());
    EXPECT_EQ(opened.front(), "a.zmb");
    EXPECT_EQ(std::count(opened.begin(), opened.end(), "b.zmb"), 0) << run.Output;
    // The summary still tells of the movie that did play.
    EXPECT_EQ(run.NumberAfter("Total frames played: "), 5);
}

// The exit status tells a script what happened; the texts stay those of the message boxes.
TEST(PlayerRuns, ExitStatusesAndTheLinuxCommandLine) {
    PlayerFolder folder;
    folder.Write("a.zmb", SmallMovie(3, kFastPeriod));
    folder.Write("\"q.zmb", SmallMovie(3, kFastPeriod));
    folder.Write("-L3.zmb", SmallMovie(3, kFastPeriod));
    folder.Write("empty.zmb", {});
    folder.WriteText("text.zmb", "not a movie at all, just some words in a file\n");
    folder.Write("noext", SmallMovie(3, kFastPeriod));
    folder.Write("back\\slash.zmb", SmallMovie(3, kFastPeriod));
    const std::string longName = std::string(200, 'n') + ".zmb";
    folder.Write(longName, SmallMovie(3, kFastPeriod));
    std::filesystem::create_directory(folder.Path() + "/folder.zmb");
    std::string manyNames;
    for (int i = 0; i < 12; ++i) manyNames += " a.zmb";
    struct Case {
        std::string args;
        int status;
        std::string shown;  // a text the run must show, or ""
        Names opened;       // the names opened or tried, in order, or none to check
    };
    const std::string absent = folder.Path() + "/absent.zmb";
    const Case cases[] = {
        {"a.zmb", 0, "", {"a.zmb"}},
        {"--version", 0, "zambply (Zambrel) ", {}},
        {"--help", 0, "Keys while playing:", {}},
        {"a.zmb gone.zmb", 1, "Error opening file: gone.zmb.", {"a.zmb", "gone.zmb"}},
        {"'" + absent + "'", 1, "Error opening file: " + absent + ".", {}},
        {"empty.zmb", 1, "Error opening file: empty.zmb.", {}},
        {"text.zmb", 1, "Error opening file: text.zmb.", {}},
        {"", 2, "SYNTAX: ZambPly", {}},
        {"-S", 2, "SYNTAX: ZambPly", {}},
        {"/P5 a.zmb", 2, "SYNTAX: ZambPly", {}},
        {"--loop a.zmb", 2, "unknown option --loop", {}},
        // The '"' stays in its name, and the next name stays a name of its own.
        {"'\"q.zmb' a.zmb", 0, "", {"\"q.zmb", "a.zmb"}},
        {"-- -L3.zmb", 0, "", {"-L3.zmb"}},
        // Stretches far beyond the screen draw only what shows, so they end like any other.
        {"/W100000 /H100000 a.zmb", 0, "", {"a.zmb"}},
        {"/W-5 /H2147483647 a.zmb", 0, "", {"a.zmb"}},
        // Names that exist are played as they are given: without an extension, with a '\',
        // from the standard input, long, and many.
        {"noext", 0, "", {"noext"}},
        {"'" + folder.Path() + "/noext'", 0, "", {}},
        {"'back\\slash.zmb'", 0, "", {}},
        {"-S - < a.zmb", 0, "Total frames played: 3", {}},
        {longName, 0, "", {longName}},
        {manyNames, 0, "", Names(12, "a.zmb")},
        // Why an open failed, beside the box.
        {"gone.zmb", 1, "zambply: gone.zmb: not found", {}},
        {"text.zmb", 1, "zambply: text.zmb: not a Zambrel movie", {}},
        {"folder.zmb", 1, "zambply: folder.zmb: a folder, not a movie", {}},
        // Whatever starts with '/' and is neither a file nor a path is switch text, and a
        // bad switch gives the usage, naming itself.
        {"a.zmb /Zq", 2, "zambply: /Zq: not a switch", {}},
        {"/Sx a.zmb", 2, "SYNTAX: ZambPly", {}},
        {"/? a.zmb", 2, "zambply: /?: not a switch", {}},
        {"-h", 0, "Keys while playing:", {}},
        // Standard error goes to the full disk too (the run's own "2>&1" follows).
        {"--version > /dev/full", 1, "", {}},
    };
    for (const Case& c : cases) {
        PlayerRun run = folder.Run(c.args);
        EXPECT_EQ(run.Status, c.status) << c.args << "\n" << run.Output;
        if (!c.shown.empty()) {
            EXPECT_TRUE(run.Shows(c.shown)) << c.args << "\n" << run.Output;
        }
        if (!c.opened.empty()) {
            EXPECT_EQ(run.Opened(), c.opened) << c.args << "\n" << run.Output;
        }
        if (c.status == 2) {
            EXPECT_EQ(run.Opened(), Names{}) << c.args << "\n" << run.Output;
        }
    }
}

// Stills with uncompressed sound: large enough to be read through the ring, not preloaded.
std::vector<std::uint8_t> StreamedMovie(int frames) {
    encoder::WriteResult written =
        encoder::WriteMovie(test_movies::StreamedStillsRecipe(frames, kFastPeriod));
    EXPECT_TRUE(written.ok) << written.error;
    return written.bytes;
}

// A movie cut short plays the frames before the cut, names the frame it could not read,
// and the run fails; the movies after it still play. One cut so short that the open sees it
// fails as any movie that cannot be opened does.
TEST(PlayerRuns, CutMovieSaysWhereItStoppedAndFails) {
    PlayerFolder folder;
    constexpr int kFrames = 200;
    const std::vector<std::uint8_t> whole = StreamedMovie(kFrames);
    folder.Write("a.zmb", SmallMovie(3, kFastPeriod));
    int namedFrames = 0;
    for (int sixteenth = 6; sixteenth <= 15; ++sixteenth) {
        const auto cut = whole.begin() + static_cast<long>(whole.size() * sixteenth / 16);
        folder.Write("cut.zmb", std::vector<std::uint8_t>(whole.begin(), cut));
        for (const char* reading : {"/E0", "/P"}) {
            PlayerRun run = folder.Run(std::string(reading) + " /F cut.zmb a.zmb");
            const std::string trace =
                std::string(reading) + " " + std::to_string(sixteenth) + "/16\n" + run.Output;
            EXPECT_EQ(run.Status, 1) << trace;
            if (run.Shows("Error opening file: cut.zmb.")) {
                EXPECT_EQ(run.Opened(), Names{"cut.zmb"}) << trace;
                continue;
            }
            EXPECT_EQ(run.Opened(), (Names{"cut.zmb", "a.zmb"})) << trace;
            const auto at = run.Output.find("zambply: cut.zmb: frame ");
            ASSERT_NE(at, std::string::npos) << trace;
            const long frame = std::atol(run.Output.c_str() + at + 24);
            EXPECT_GT(frame, 1) << trace;
            EXPECT_LT(frame, kFrames) << trace;
            EXPECT_TRUE(run.Shows(" of " + std::to_string(kFrames) + " could not be read"))
                << trace;
            ++namedFrames;
        }
    }
    EXPECT_GE(namedFrames, 5);
}

// A second a frame: the skip key is the only way the first movie ends in time.
constexpr std::int32_t kSlowPeriod = 1000;

TEST(PlayerRuns, SkipKeyLeavesTheMovieForTheNext) {
    PlayerFolder folder;
    folder.Write("long.zmb", SmallMovie(30, kSlowPeriod));
    folder.Write("short.zmb", SmallMovie(5, kFastPeriod));
    PlayerRun run = folder.Run("long.zmb short.zmb", "at 100 ms key .\n");
    EXPECT_EQ(run.Status, 0) << run.Output;
    EXPECT_EQ(run.Opened(), (Names{"long.zmb", "short.zmb"})) << run.Output;
}

TEST(PlayerRuns, SkipKeyEndsAnEndlesslyLoopedLoneMovie) {
    PlayerFolder folder;
    folder.Write("one.zmb", SmallMovie(10, kFastPeriod));
    PlayerRun run = folder.Run("-L one.zmb", "at 300 ms key .\n");
    EXPECT_EQ(run.Status, 0) << run.Output;
    EXPECT_EQ(run.Opened(), Names{"one.zmb"});
}

TEST(PlayerRuns, DisabledSkipKeyIsIgnored) {
    PlayerFolder folder;
    folder.Write("a.zmb", SmallMovie(30, kFastPeriod));
    folder.Write("b.zmb", SmallMovie(5, kFastPeriod));
    PlayerRun run = folder.Run("-U2 -L2 -S a.zmb b.zmb", "at 50 ms key .\n");
    EXPECT_EQ(run.Opened(), (Names{"a.zmb", "b.zmb", "a.zmb", "b.zmb"})) << run.Output;
}

// Space between the first two frames holds the movie, Enter lets exactly one more frame
// through, and Escape ends it while it is still paused.
TEST(PlayerRuns, PauseHoldsAndEnterStepsOneFrame) {
    PlayerFolder folder;
    folder.Write("one.zmb", SmallMovie(20, -10000));
    PlayerRun run =
        folder.Run("-S one.zmb", "at 50 ms key Space\nat 300 ms key Enter\nat 600 ms key Escape\n");
    EXPECT_EQ(run.Status, 0) << run.Output;
    EXPECT_EQ(run.NumberAfter("Total frames played: "), 2) << run.Output;
}

TEST(PlayerRuns, PauseResumesWhereItStopped) {
    PlayerFolder folder;
    folder.Write("one.zmb", SmallMovie(10, kFastPeriod));
    // A pause that never resumed would run into the time limit.
    PlayerRun run = folder.Run("-S one.zmb", "at 20 ms key Space\nat 300 ms key Space\n");
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.NumberAfter("Total frames played: "), 10) << run.Output;
}

// The focus goes after the first frame and comes back together with Escape: a held movie
// has shown one frame by then, one that played on several.
TEST(PlayerRuns, LosingTheFocusHoldsTheMovieUnlessToldNotTo) {
    PlayerFolder folder;
    folder.Write("one.zmb", SmallMovie(20, -10000));
    const std::string input = "at 50 ms deactivate\nat 450 ms activate\nat 450 ms key Escape\n";
    PlayerRun held = folder.Run("-S one.zmb", input);
    EXPECT_EQ(held.NumberAfter("Total frames played: "), 1) << held.Output;
    PlayerRun playing = folder.Run("-J -S one.zmb", input);
    EXPECT_GT(playing.NumberAfter("Total frames played: "), 2) << playing.Output;
}

TEST(PlayerRuns, SummaryTellsTheFrameRates) {
    PlayerFolder folder;
    folder.Write("three.zmb", SmallMovie(3, -6666));
    folder.Write("single.zmb", SmallMovie(1, kFastPeriod));
    PlayerRun paced = folder.Run("-S three.zmb");
    EXPECT_TRUE(paced.Shows("Frame rate: 15.0")) << paced.Output;
    EXPECT_TRUE(paced.Shows("Second slowest frame: "));
    PlayerRun fast = folder.Run("-S -F three.zmb");
    EXPECT_TRUE(fast.Shows("Frame rate: As fast as possible.")) << fast.Output;
    PlayerRun single = folder.Run("-S single.zmb");
    EXPECT_TRUE(single.Shows("Slowest frame: ")) << single.Output;
    EXPECT_FALSE(single.Shows("Second slowest frame: "));
}

// The copy carries its movie behind the program and its switches in its own data.
TEST(PlayerRuns, SelfPlayingCopyPlaysItsOwnMovie) {
    PlayerFolder folder;
    folder.Write("one.zmb", SmallMovie(10, kFastPeriod));
    const std::string make = "'" ZMBTOOL_PATH "' selfplay '" + folder.Path() + "/one.zmb' '" +
                             folder.Path() + "/copy' --switches /S --player '" ZAMBPLY_PATH "'";
    ASSERT_EQ(std::system(make.c_str()), 0);
    PlayerRun run = folder.RunProgram("./copy", "");
    EXPECT_EQ(run.Status, 0);
    EXPECT_TRUE(run.Shows("ZambOpen - file handle: ")) << run.Output;
    EXPECT_EQ(run.NumberAfter("Total frames played: "), 10) << run.Output;
}

// Other programs load the player for its blitter, so each operation must be exported by name.
TEST(PlayerProgram, ExportsTheBlitterOperations) {
    std::string symbols;
    if (FILE* pipe = popen("nm -D --defined-only '" ZAMBPLY_PATH "'", "r")) {
        char chunk[4096];
        for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
            symbols.append(chunk, got);
        pclose(pipe);
    }
    for (const char* name :
         {"ZambBlitOpen", "ZambBlitClose", "ZambBlitSetPalette", "ZambBlitSetFlags",
          "ZambBlitString", "ZambBlit", "ZambBlitTrans", "ZambBlitMask", "ZambBlitMerge",
          "ZambBlitClear", "ZambBufferToBuffer", "ZambBufferToBufferTrans",
          "ZambBufferToBufferMask", "ZambBufferToBufferMerge"})
        EXPECT_NE(symbols.find(std::string(" T ") + name + "\n"), std::string::npos) << name;
}

// Without a device SDL can open, one line says so for the whole list, and alsa-lib's own
// lines about the missing card stay off standard error unless the profile asks for debug
// output (which the other runs here do). Where the device does open, neither shows.
TEST(PlayerRuns, NoSoundDeviceIsOneLineAndNoneOfAlsas) {
    PlayerFolder folder;
    folder.Write("a.zmb", SmallMovie(3, kFastPeriod));
    folder.WriteText("quiet.ini", "[Zambrel]\nDebug=0\n");
    PlayerRun run = folder.Run("a.zmb a.zmb", "",
                               "ZAMBREL_AUDIO=sdl SDL_AUDIODRIVER=alsa ZAMBREL_PROFILE=quiet.ini");
    EXPECT_EQ(run.Status, 0) << run.Output;
    EXPECT_FALSE(run.Shows("ALSA lib")) << run.Output;
    const std::string line = "no sound device could be opened";
    const auto first = run.Output.find(line);
    if (first != std::string::npos) {
        EXPECT_EQ(run.Output.find(line, first + 1), std::string::npos) << run.Output;
    }
}

}  // namespace
}  // namespace zambrel::testing
