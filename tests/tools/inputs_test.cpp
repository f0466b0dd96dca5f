// SPDX-License-Identifier: MIT
// zmbtool encode from JPEG files and from Y4M streams (a file, or standard input): the movie
// shows what libjpeg itself decodes, or what the test's own BT.601 conversion gives, as
// closely as 256 colours allow, the same with one thread or two; broken inputs fail on one
// line and write nothing.
#include <gtest/gtest.h>
#include <jpeglib.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "encode_clips.h"
#include "file_bytes.h"
#include "run_tool.h"

namespace {

namespace fs = std::filesystem;
namespace clips = zambrel::clips;
using zambrel::testing::ReadFileBytes;

constexpr int kWidth = 64, kHeight = 48, kFrames = 4;

bool WriteJpeg(const std::string& path, const std::vector<std::uint8_t>& rgb) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = kWidth;
    info.image_height = kHeight;
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 95, TRUE);
    jpeg_start_compress(&info, TRUE);
    for (int y = 0; y < kHeight; ++y) {
        JSAMPROW row = const_cast<std::uint8_t*>(&rgb[static_cast<std::size_t>(y) * kWidth * 3]);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return std::fclose(file) == 0;
}

// What libjpeg makes of the file, red, green, blue.
std::vector<std::uint8_t> ReadJpeg(const std::string& path) {
    std::vector<std::uint8_t> rgb(std::size_t{kWidth} * kHeight * 3);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    jpeg_decompress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = &rgb[std::size_t{info.output_scanline} * kWidth * 3];
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    std::fclose(file);
    return rgb;
}

std::uint8_t Level(double v) {
    return static_cast<std::uint8_t>(std::lround(std::fmin(255, std::fmax(0, v))));
}

// A 4:4:4 Y4M frame of the picture, BT.601 at limited range.
std::string Y4mFrame(const std::vector<std::uint8_t>& rgb) {
    const std::size_t n = std::size_t{kWidth} * kHeight;
    std::string planes(3 * n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        const double r = rgb[3 * i], g = rgb[3 * i + 1], b = rgb[3 * i + 2];
        const double y = 0.299 * r + 0.587 * g + 0.114 * b;
        planes[i] = static_cast<char>(Level(16 + y * 219 / 255));
        planes[n + i] = static_cast<char>(Level(128 + (b - y) / 1.772 * 224 / 255));
        planes[2 * n + i] = static_cast<char>(Level(128 + (r - y) / 1.402 * 224 / 255));
    }
    return "FRAME\n" + planes;
}

class EncodeInputs : public ToolFolderTest {
  protected:
    EncodeInputs() : ToolFolderTest("inputs") {}
    void SetUp() override {
        ToolFolderTest::SetUp();
        clip_ = clips::MovingGradients(kWidth, kHeight, kFrames);
    }
    // The movie's frames as red, green, blue, one after another.
    std::vector<std::uint8_t> Decoded(const std::string& movie) {
        EXPECT_EQ(RunTool("decode -f " + movie + " --rgb24 " + Path("m.rgb")).status, 0);
        return ReadFileBytes(Path("m.rgb"));
    }
    void ExpectClose(const std::vector<std::uint8_t>& decoded,
                     const std::vector<std::vector<std::uint8_t>>& wanted) {
        ASSERT_EQ(decoded.size(), wanted.size() * kWidth * kHeight * 3);
        for (std::size_t f = 0; f < wanted.size(); ++f) {
            const auto at = decoded.begin() + static_cast<long>(f * wanted[f].size());
            EXPECT_GT(clips::Psnr(wanted[f], {at, at + static_cast<long>(wanted[f].size())}), 30)
                << "frame " << f;
        }
    }
    clips::Clip clip_;
};

TEST_F(EncodeInputs, JpegSequencesEncodeAsLibjpegDecodesThem) {
    std::vector<std::vector<std::uint8_t>> wanted;
    for (int f = 0; f < kFrames; ++f) {
        const std::string name = Path("shot" + std::to_string(10 + f) + ".jpg");
        ASSERT_TRUE(WriteJpeg(name, clip_.frames[static_cast<std::size_t>(f)]));
        wanted.push_back(ReadJpeg(name));
    }
    const RunResult run =
        RunTool("encode " + Path("shot10.jpg") + " " + Path("j.zmb") + " --quality 100");
    ASSERT_EQ(run.status, 0) << run.output;
    ExpectClose(Decoded(Path("j.zmb")), wanted);
    // Entries reserved for the host program are never shown and never set, in any frame.
    ASSERT_EQ(RunTool("encode -f " + Path("shot10.jpg") + " " + Path("r.zmb") +
                      " --reserve 0-9,246-255 --quality 70")
                  .status,
              0);
    const std::vector<std::uint8_t> shown = Decoded(Path("r.zmb"));
    ASSERT_EQ(RunTool("decode -f " + Path("r.zmb") + " --raw " + Path("r.raw")).status, 0);
    const std::vector<std::uint8_t> raw = ReadFileBytes(Path("r.raw"));
    const std::size_t frameBytes = 768 + std::size_t{kWidth} * kHeight;
    ASSERT_EQ(raw.size(), kFrames * frameBytes);
    for (std::size_t at = 0; at < raw.size(); at += frameBytes) {
        for (std::size_t e = 0; e < 256; e = e == 9 ? 246 : e + 1)
            EXPECT_TRUE(raw[at + 3 * e] == 0 && raw[at + 3 * e + 1] == 0 &&
                        raw[at + 3 * e + 2] == 0)
                << "entry " << e;
        for (std::size_t i = at + 768; i < at + frameBytes; ++i)
            ASSERT_TRUE(raw[i] >= 10 && raw[i] < 246) << "pixel " << i - at - 768;
    }
    ExpectClose(shown, wanted);
    // Reading ahead on a second thread changes nothing in the movie, whatever the options.
    for (const std::string options : {"", " --palette movie --dither", " --max-rate 20000"}) {
        const std::string common = "encode -f " + Path("shot10.jpg") + " ";
        ASSERT_EQ(RunTool(common + Path("one.zmb") + " --threads 1" + options).status, 0);
        ASSERT_EQ(RunTool(common + Path("two.zmb") + " --threads 2" + options).status, 0);
        EXPECT_TRUE(ReadFileBytes(Path("one.zmb")) == ReadFileBytes(Path("two.zmb"))) << options;
    }
}

TEST_F(EncodeInputs, Y4mFromStandardInputEncodesAtItsOwnRate) {
    std::string stream = "YUV4MPEG2 W64 H48 F25:1 Ip A1:1 C444\n";
    for (const auto& frame : clip_.frames) stream += Y4mFrame(frame);
    std::ofstream(Path("in.y4m"), std::ios::binary) << stream;
    const RunResult run =
        RunTool("encode - " + Path("y.zmb") + " --quality 100 < " + Path("in.y4m"));
    ASSERT_EQ(run.status, 0) << run.output;
    const RunResult info = RunTool("info " + Path("y.zmb"));
    EXPECT_NE(info.output.find("code -4000)"), std::string::npos) << info.output;
    EXPECT_NE(info.output.find("frames:           4\n"), std::string::npos) << info.output;
    ExpectClose(Decoded(Path("y.zmb")), clip_.frames);

    // Broken inputs: one line naming the file and why, status 1, nothing written.
    std::ofstream(Path("cut.y4m"), std::ios::binary) << stream.substr(0, stream.size() - 10);
    std::ofstream(Path("head.y4m"), std::ios::binary) << "YUV4MPEG2 W0 H48\nFRAME\n";
    std::ofstream(Path("no1.jpg"), std::ios::binary) << "not a picture at all";
    const std::pair<std::string, std::string> refusals[] = {
        {Path("cut.y4m"), "frame 3 is cut short"},
        {Path("head.y4m"), "no usable size"},
        {Path("no1.jpg"), "not a readable JPEG"},
    };
    for (const auto& [input, reason] : refusals) {
        const RunResult refused = RunTool("encode " + input + " " + Path("out.zmb"));
        EXPECT_EQ(refused.status, 1) << refused.output;
        EXPECT_NE(refused.output.find(reason), std::string::npos) << refused.output;
        EXPECT_FALSE(fs::exists(Path("out.zmb")));
    }
    // The last name of a glob gone wrong is never replaced, --force or not.
    std::ofstream(Path("keep.png"), std::ios::binary) << "a picture";
    const RunResult glob = RunTool("encode -f " + Path("in.y4m") + " " + Path("keep.png"));
    EXPECT_EQ(glob.status, 1) << glob.output;
    EXPECT_EQ(ReadFileBytes(Path("keep.png")).size(), 9u);
}

}  // namespace
