// SPDX-License-Identifier: MIT
// The player program run whole on the headless host: which movies open when, how often
// their frames play, and what the keys and the summary do.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "player_run.h"

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

}  // namespace
}  // namespace zambrel::testing
