// SPDX-License-Identifier: MIT
// zmbtool info on writer-made movies and on files it must refuse.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>
#include <string>

#include "encoder/writer.h"
#include "run_tool.h"

namespace fs = std::filesystem;
using namespace zambrel::encoder;

namespace {

class ZmbtoolInfo : public ToolFolderTest {
  protected:
    ZmbtoolInfo() : ToolFolderTest("info") {}

    std::string WriteSmallMovie() {
        MovieRecipe recipe;
        recipe.width = 16;
        recipe.height = 8;
        recipe.frameRate = 100;
        recipe.ring = true;
        for (int frame = 0; frame < 3; ++frame) {
            Picture picture;
            picture.pixels.assign(16 * 8, static_cast<std::uint8_t>(frame * 40));
            picture.palette.fill(WidenLevel(static_cast<std::uint8_t>(frame * 10)));
            recipe.pictures.push_back(picture);
        }
        SoundTrack& track = recipe.tracks[2];
        track.present = true;
        track.sampleRate = 11025;
        track.stereo = true;
        track.samples.assign(2 * 3300, 0x80);
        std::string path = (folder_ / "small.zmb").string();
        std::string error;
        EXPECT_TRUE(WriteMovieFile(recipe, path, &error)) << error;
        return path;
    }

    std::string Write(const std::string& name, const std::string& bytes) {
        fs::path path = folder_ / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }
};

}  // namespace

TEST_F(ZmbtoolInfo, DescribesAWriterMadeMovie) {
    RunResult result = RunTool("info --frames " + WriteSmallMovie());
    ASSERT_EQ(result.status, 0) << result.output;
    for (const char* expected :
         {"width:            16\n", "height:           8 (stored)\n", "frames:           3\n",
          "frame rate:       10.00 frames per second (period 100.00 ms, code 100)\n",
          "ring frame:       yes\n", "track 2:          11025 Hz, 8-bit, stereo, compressed",
          "track 0:          absent\n", "(ring)\n"}) {
        EXPECT_NE(result.output.find(expected), std::string::npos) << expected << "\n"
                                                                   << result.output;
    }
    // The frame list has one line per stored frame: three frames and the ring frame.
    EXPECT_NE(result.output.find("    3 "), std::string::npos) << result.output;
}

TEST_F(ZmbtoolInfo, RefusedFilesGiveOneLineAndStatusOne) {
    std::string truncated = WriteSmallMovie();
    fs::resize_file(truncated, 60);
    std::string badMagic = Write("magic.zmb", "ZMB3" + std::string(200, '\0'));
    for (const std::string& path : {truncated, badMagic, (folder_ / "absent.zmb").string()}) {
        RunResult result = RunTool("info " + path);
        EXPECT_EQ(result.status, 1) << path;
        EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), 1) << result.output;
        EXPECT_EQ(result.output.rfind("zmbtool: " + path + ": ", 0), 0u) << result.output;
    }
}

TEST_F(ZmbtoolInfo, UsageErrorsAndHelp) {
    EXPECT_EQ(RunTool("info").status, 1);
    EXPECT_EQ(RunTool("info --bogus x").status, 1);
    RunResult help = RunTool("info --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("usage: zmbtool info"), std::string::npos);
    EXPECT_EQ(RunTool("nonsense").status, 1);
    EXPECT_EQ(RunTool("--help").status, 0);
}

TEST_F(ZmbtoolInfo, DecodeWritesEachTracksSoundExactly) {
    MovieRecipe recipe;
    recipe.width = 8;
    recipe.height = 8;
    recipe.frameRate = 50;
    for (int frame = 0; frame < 4; ++frame) {
        Picture picture;
        picture.pixels.assign(64, static_cast<std::uint8_t>(frame));
        recipe.pictures.push_back(picture);
    }
    std::vector<std::uint8_t> expected[2];
    for (int n = 0; n < 2; ++n) {
        SoundTrack& track = recipe.tracks[n * 3];
        track.present = true;
        track.sampleRate = 8000;
        track.is16Bit = n == 1;
        track.stereo = n == 1;
        track.compressed = n == 0;
        for (int i = 0; i < 1600 * (n == 1 ? 4 : 1); ++i)
            track.samples.push_back(static_cast<std::uint8_t>((i * 37 + n) ^ (i >> 3)));
        expected[n] = track.samples;
    }
    std::string path = (folder_ / "sound.zmb").string();
    std::string error;
    ASSERT_TRUE(WriteMovieFile(recipe, path, &error)) << error;
    RunResult result =
        RunTool("decode " + path + " --pcm " + folder_.string() + " --wav " + folder_.string());
    ASSERT_EQ(result.status, 0) << result.output;
    for (int n = 0; n < 2; ++n) {
        std::string name = "track" + std::to_string(n * 3);
        std::ifstream pcm(folder_ / (name + ".pcm"), std::ios::binary);
        std::vector<std::uint8_t> got((std::istreambuf_iterator<char>(pcm)), {});
        EXPECT_EQ(got, expected[n]) << name;
        EXPECT_EQ(fs::file_size(folder_ / (name + ".wav")), 44 + expected[n].size()) << name;
    }
    EXPECT_FALSE(fs::exists(folder_ / "track1.pcm"));
    EXPECT_EQ(RunTool("decode " + path + " --pcm " + (folder_ / "absent").string()).status, 1);
}
