// SPDX-License-Identifier: MIT
// zmbtool encode --max-rate: the busiest second, as the library counts it for the players,
// stays under the cap without a picture dropped, encode's own count is the library's, and
// the player reading at the cap's speed shows every frame in time.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "encode_clips.h"
#include "run_tool.h"

#ifndef ZAMBPLY_PATH
#error "ZAMBPLY_PATH must name the player under test"
#endif

namespace {

namespace fs = std::filesystem;
namespace clips = zambrel::clips;

long NumberAfter(const std::string& text, const std::string& label) {
    const std::size_t at = text.find(label);
    return at == std::string::npos ? -1 : std::atol(text.c_str() + at + label.size());
}

// How many columns of a rate plot show the second's line above the cap's: the plot's dark
// line (20, 40, 110) over its red one (220, 30, 30). -1 when the plot cannot be read.
int ColumnsOverTheCap(const std::string& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return -1;
    image.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return -1;
    const auto is = [&](std::uint32_t x, std::uint32_t y, int r, int g, int b) {
        const std::uint8_t* p = &rgb[(std::size_t{y} * image.width + x) * 3];
        return p[0] == r && p[1] == g && p[2] == b;
    };
    int capRow = -1, over = 0;
    for (std::uint32_t y = 0; y < image.height && capRow < 0; ++y)
        if (is(image.width / 2, y, 220, 30, 30)) capRow = static_cast<int>(y);
    if (capRow < 0) return -1;
    for (std::uint32_t x = 0; x < image.width; ++x)
        for (int y = 0; y < capRow; ++y)
            if (is(x, static_cast<std::uint32_t>(y), 20, 40, 110)) {
                ++over;
                break;
            }
    return over;
}

class EncodeRate : public ToolFolderTest {
  protected:
    EncodeRate() : ToolFolderTest("rate") {}
    void SetUp() override {
        ToolFolderTest::SetUp();
        const clips::Clip clip = clips::PhotoNoise(160, 120, 45);
        for (int f = 0; f < 45; ++f)
            ASSERT_TRUE(clips::WriteRgbPng(Path("p" + std::to_string(100 + f) + ".png"), 160, 120,
                                           clip.frames[static_cast<std::size_t>(f)]));
    }
    // The player's summary of the movie played once at a read speed of `bytes` a second.
    std::string PlayAt(const std::string& movie, long bytes) {
        const std::string command = "cd '" + folder_.string() +
                                    "' && ZAMBREL_HOST=headless ZAMBREL_AUDIO=simulated "
                                    "ZAMBREL_PROFILE=profile.ini timeout 120 " ZAMBPLY_PATH
                                    " -S /M" +
                                    std::to_string(bytes) + " " + movie + " 2>&1";
        std::string output;
        FILE* pipe = ::popen(command.c_str(), "r");
        if (pipe == nullptr) return output;
        char chunk[4096];
        while (std::size_t n = std::fread(chunk, 1, sizeof chunk, pipe)) output.append(chunk, n);
        ::pclose(pipe);
        return output;
    }
    RunResult Encode(const std::string& out, const std::string& options) {
        return RunTool("encode " + Path("p100.png") + " " + Path(out) + " " + options);
    }
};

TEST_F(EncodeRate, CappedMoviesKeepEveryPictureUnderTheCapAsThePlayersCountIt) {
    const RunResult free = Encode("free.zmb", "");
    ASSERT_EQ(free.status, 0) << free.output;
    const long busiest = NumberAfter(free.output, "busiest second: ");
    const RunResult freeInfo = RunTool("info " + Path("free.zmb"));
    EXPECT_EQ(NumberAfter(freeInfo.output, "busiest second:   "), busiest) << freeInfo.output;
    for (const long cap : {busiest * 2 / 3, busiest / 4}) {
        SCOPED_TRACE("cap " + std::to_string(cap));
        const RunResult capped = Encode("capped.zmb", "-f --max-rate " + std::to_string(cap));
        ASSERT_EQ(capped.status, 0) << capped.output;
        const RunResult info = RunTool("info " + Path("capped.zmb"));
        const long counted = NumberAfter(info.output, "busiest second:   ");
        EXPECT_LE(counted, cap) << info.output;
        EXPECT_GT(counted, 0) << info.output;
        EXPECT_EQ(NumberAfter(capped.output, "busiest second: "), counted) << capped.output;
        EXPECT_EQ(NumberAfter(info.output, "frames:           "), 45) << info.output;
        // At the read speed of the cap the player keeps the movie's 15 frames a second,
        // skipping none; the margin is for a loaded machine, where 14.3 has been seen.
        const std::string played = PlayAt(Path("capped.zmb"), cap);
        EXPECT_EQ(NumberAfter(played, "Skipped frames: "), 0) << played;
        EXPECT_GE(std::atof(played.c_str() + played.find("rate obtained: ") + 15), 13.5) << played;
    }
    // Looked at, the plot shows where a movie is too fast for its medium, and a capped one
    // never is.
    const std::string cap = " --max-rate " + std::to_string(busiest / 4);
    ASSERT_EQ(RunTool("info " + Path("free.zmb") + " --rate-plot " + Path("free.png") + cap).status,
              0);
    ASSERT_EQ(
        RunTool("info " + Path("capped.zmb") + " --rate-plot " + Path("capped.png") + cap).status,
        0);
    EXPECT_GT(ColumnsOverTheCap(Path("free.png")), 100);
    EXPECT_EQ(ColumnsOverTheCap(Path("capped.png")), 0);

    const RunResult tooLow = Encode("low.zmb", "--max-rate 50");
    EXPECT_EQ(tooLow.status, 1) << tooLow.output;
    EXPECT_NE(tooLow.output.find("is below what the movie needs"), std::string::npos);
    EXPECT_FALSE(fs::exists(Path("low.zmb")));
}

}  // namespace
