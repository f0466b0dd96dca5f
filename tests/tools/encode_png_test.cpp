// SPDX-License-Identifier: MIT
// zmbtool encode and decode --png on pictures and sound files this test writes itself.
#include <gtest/gtest.h>
#include <png.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "file_bytes.h"
#include "encoder/writer.h"
#include "run_tool.h"

namespace fs = std::filesystem;
using zambrel::encoder::WidenLevel;
using zambrel::testing::ReadFileBytes;

namespace {

using Palette = std::array<std::uint8_t, 768>;

struct Frame {
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint8_t> pixels;  // indices, or red, green, blue for RGB files
    Palette palette{};
    int colourType = PNG_COLOR_TYPE_PALETTE;
};

// Written with libpng directly, so the tool's own PNG code is checked against another
// writer and reader. Palette files of depth below 8 are packed by libpng.
void WritePng(const fs::path& path, const Frame& frame, int bitDepth = 8) {
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_IHDR(png, info, frame.width, frame.height, bitDepth, frame.colourType,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> entries;
    const int count = frame.colourType == PNG_COLOR_TYPE_PALETTE ? 1 << bitDepth : 0;
    for (int i = 0; i < count; ++i)
        entries.push_back(
            {frame.palette[i * 3], frame.palette[i * 3 + 1], frame.palette[i * 3 + 2]});
    if (count) png_set_PLTE(png, info, entries.data(), count);
    png_write_info(png, info);
    if (bitDepth < 8) png_set_packing(png);
    const std::size_t rowBytes = frame.pixels.size() / frame.height;
    for (std::uint32_t y = 0; y < frame.height; ++y)
        png_write_row(png, frame.pixels.data() + y * rowBytes);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

Frame ReadPng(const fs::path& path) {
    Frame frame;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return frame;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_read_info(png, info);
    frame.width = png_get_image_width(png, info);
    frame.height = png_get_image_height(png, info);
    frame.colourType = png_get_color_type(png, info);
    png_colorp entries = nullptr;
    int count = 0;
    if (png_get_PLTE(png, info, &entries, &count))
        for (int i = 0; i < count; ++i) {
            frame.palette[i * 3] = entries[i].red;
            frame.palette[i * 3 + 1] = entries[i].green;
            frame.palette[i * 3 + 2] = entries[i].blue;
        }
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    frame.pixels.resize(rowBytes * frame.height);
    for (std::uint32_t y = 0; y < frame.height; ++y)
        png_read_row(png, frame.pixels.data() + y * rowBytes, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return frame;
}

// A picture whose blocks mix solid, two-colour and busy areas, with a palette of exact levels
// that differs from frame to frame.
Frame MakeFrame(int n, std::uint32_t width = 16, std::uint32_t height = 8) {
    Frame frame;
    frame.width = width;
    frame.height = height;
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint32_t value = x < 4   ? 7
                                        : x < 8 ? ((x ^ y) & 1) * 200
                                                : x * 13 + y * 5 + n * 3;
            frame.pixels.push_back(static_cast<std::uint8_t>(value));
        }
    for (int i = 0; i < 768; ++i)
        frame.palette[i] = WidenLevel(static_cast<std::uint8_t>((i + n * 7) % 64));
    return frame;
}

class ZmbtoolEncode : public ToolFolderTest {
  protected:
    ZmbtoolEncode() : ToolFolderTest("encode") {}
    void SetUp() override {
        ToolFolderTest::SetUp();
        fs::create_directories(folder_ / "out");
    }

    std::vector<Frame> WriteSequence(int count) {
        std::vector<Frame> frames;
        for (int n = 0; n < count; ++n) {
            frames.push_back(MakeFrame(n));
            char name[32];
            std::snprintf(name, sizeof name, "pic%03d.png", n + 8);
            WritePng(folder_ / name, frames.back());
        }
        return frames;
    }
};

}  // namespace

TEST_F(ZmbtoolEncode, PicturesComeBackExactlyThroughRawAndPng) {
    std::vector<Frame> frames = WriteSequence(3);
    // A 4-bit file among 8-bit ones: the tool must unpack it to one index per pixel.
    Frame packed = MakeFrame(3);
    for (std::uint8_t& p : packed.pixels) p &= 15;
    std::fill(packed.palette.begin() + 48, packed.palette.end(), 0);
    WritePng(folder_ / "pic011.png", packed, 4);
    frames.push_back(packed);

    const std::string movie = Path("m.zmb");
    RunResult encoded = RunTool("encode " + Path("pic008.png") + " " + movie + " --fps 10 --ring");
    ASSERT_EQ(encoded.status, 0) << encoded.output;
    RunResult info = RunTool("info " + movie);
    EXPECT_NE(info.output.find("frames:           4\n"), std::string::npos) << info.output;
    EXPECT_NE(info.output.find("ring frame:       yes\n"), std::string::npos) << info.output;
    EXPECT_NE(info.output.find("code -10000)"), std::string::npos) << info.output;

    ASSERT_EQ(RunTool("decode " + movie + " --raw " + Path("m.raw")).status, 0);
    const std::vector<std::uint8_t> raw = ReadFileBytes(folder_ / "m.raw");
    ASSERT_EQ(raw.size(), frames.size() * (768 + 16 * 8));
    for (std::size_t n = 0; n < frames.size(); ++n) {
        const auto at = raw.begin() + static_cast<long>(n * (768 + 128));
        EXPECT_TRUE(std::equal(frames[n].palette.begin(), frames[n].palette.end(), at)) << n;
        EXPECT_TRUE(std::equal(frames[n].pixels.begin(), frames[n].pixels.end(), at + 768)) << n;
    }

    // One pass and then the ring frame: played frame 4 is the first picture again.
    ASSERT_EQ(RunTool("decode " + movie + " --frames 5 --png " + Path("out")).status, 0);
    for (std::size_t n = 0; n < 5; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "frame%05zu.png", n);
        const Frame got = ReadPng(folder_ / "out" / name);
        const Frame& want = frames[n % 4];
        EXPECT_EQ(got.colourType, PNG_COLOR_TYPE_PALETTE) << n;
        EXPECT_EQ(got.width, 16u);
        EXPECT_EQ(got.pixels, want.pixels) << n;
        EXPECT_EQ(got.palette, want.palette) << n;
    }
    EXPECT_FALSE(fs::exists(folder_ / "out" / "frame00005.png"));
}

TEST_F(ZmbtoolEncode, SixteenBitDecodeWritesRgbPngsTheSameEitherWayUp) {
    // Black, white and pure primaries come through 5-5-5 and 5-6-5 without loss.
    Frame frame = MakeFrame(0);
    const std::array<std::uint8_t, 15> colours = {0, 0, 0,   255, 255, 255, 255, 0,
                                                  0, 0, 255, 0,   0,   0,   255};
    for (int i = 0; i < 256; ++i)
        for (int c = 0; c < 3; ++c) frame.palette[i * 3 + c] = colours[(i % 5) * 3 + c];
    WritePng(folder_ / "f0.png", frame);
    const std::string movie = Path("c.zmb");
    ASSERT_EQ(RunTool("encode " + Path("f0.png") + " " + movie).status, 0);
    for (const char* format : {"555", "565"}) {
        for (const char* way : {"", " --bottom-up"}) {
            fs::remove_all(folder_ / "out");
            fs::create_directories(folder_ / "out");
            RunResult decoded =
                RunTool("decode " + movie + " --format " + format + way + " --png " + Path("out"));
            ASSERT_EQ(decoded.status, 0) << decoded.output;
            const Frame got = ReadPng(folder_ / "out" / "frame00000.png");
            ASSERT_EQ(got.colourType, PNG_COLOR_TYPE_RGB) << format << way;
            ASSERT_EQ(got.pixels.size(), frame.pixels.size() * 3);
            for (std::size_t i = 0; i < frame.pixels.size(); ++i)
                for (int c = 0; c < 3; ++c)
                    ASSERT_EQ(got.pixels[i * 3 + c], frame.palette[frame.pixels[i] * 3 + c])
                        << format << way << " pixel " << i;
        }
    }
}

TEST_F(ZmbtoolEncode, SoundFilesBecomeTracksByteForByte) {
    WriteSequence(4);
    std::vector<std::uint8_t> expected[2];
    for (int n = 0; n < 2; ++n) {
        SF_INFO format{};
        format.samplerate = 8000;
        format.channels = n + 1;
        format.format = SF_FORMAT_WAV | (n ? SF_FORMAT_PCM_16 : SF_FORMAT_PCM_U8);
        SNDFILE* file = sf_open(Path("s" + std::to_string(n) + ".wav").c_str(), SFM_WRITE, &format);
        ASSERT_NE(file, nullptr);
        for (int i = 0; i < 1200 * (n ? 4 : 1); ++i)
            expected[n].push_back(static_cast<std::uint8_t>((i * 37 + n) ^ (i >> 3)));
        sf_write_raw(file, expected[n].data(), static_cast<sf_count_t>(expected[n].size()));
        sf_close(file);
    }
    const std::string movie = Path("s.zmb");
    RunResult encoded =
        RunTool("encode " + Path("pic008.png") + " " + movie + " --period-code 50" +
                " --track 0=" + Path("s0.wav") + " --track 5=" + Path("s1.wav") + " --raw-sound");
    ASSERT_EQ(encoded.status, 0) << encoded.output;
    ASSERT_EQ(RunTool("decode " + movie + " --pcm " + Path("out")).status, 0);
    EXPECT_EQ(ReadFileBytes(folder_ / "out" / "track0.pcm"), expected[0]);
    EXPECT_EQ(ReadFileBytes(folder_ / "out" / "track5.pcm"), expected[1]);
    EXPECT_NE(RunTool("info " + movie).output.find("8000 Hz, 16-bit, stereo"), std::string::npos);
}

TEST_F(ZmbtoolEncode, RefusalsGiveOneLineStatusOneAndNoFile) {
    WriteSequence(2);
    Frame truecolour = MakeFrame(0);
    truecolour.colourType = PNG_COLOR_TYPE_RGB;
    truecolour.pixels.resize(truecolour.pixels.size() * 3, 9);
    WritePng(folder_ / "rgb1.png", truecolour);
    Frame inexact = MakeFrame(0);
    inexact.palette[5] = 2;  // between the levels 0 (0) and 1 (4)
    WritePng(folder_ / "odd1.png", inexact);
    Frame grey = MakeFrame(0);
    grey.colourType = PNG_COLOR_TYPE_GRAY;
    WritePng(folder_ / "grey1.png", grey);
    // A file cut in its picture data must give an error, not a crash or a half picture.
    WritePng(folder_ / "cut1.png", MakeFrame(0));
    fs::resize_file(folder_ / "cut1.png", fs::file_size(folder_ / "cut1.png") - 30);
    std::ofstream(folder_ / "junk1.png") << "not a picture at all";
    Frame wide = MakeFrame(0, 20, 8);
    WritePng(folder_ / "pic010.png", wide);
    // Faster than any track a player opens, though the format could store the rate.
    SF_INFO fast{};
    fast.samplerate = 384000;
    fast.channels = 1;
    fast.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* fastFile = sf_open(Path("fast.wav").c_str(), SFM_WRITE, &fast);
    ASSERT_NE(fastFile, nullptr);
    const short silence[64] = {};
    sf_write_short(fastFile, silence, 64);
    sf_close(fastFile);

    const std::string movie = Path("r.zmb");
    struct Case {
        std::string arguments, mentions;
    };
    const Case cases[] = {
        {"encode " + Path("pic008.png") + " " + Path("absent/r.zmb"), "cannot write"},
        {"encode " + Path("cut1.png") + " " + movie, "cut1.png: "},
        {"encode " + Path("junk1.png") + " " + movie, "junk1.png: "},
        {"encode " + Path("pic008.png") + " " + movie, "pic010.png: 20x8"},
        {"encode " + Path("absent7.png") + " " + movie, "absent7.png"},
        {"encode " + Path("pic008.png") + " " + movie +
             " --count 2 --track 0=" + Path("absent.wav"),
         "absent.wav"},
        {"encode " + Path("pic008.png") + " " + movie + " --count 2 --track 1=" + Path("fast.wav"),
         "384000 Hz; tracks play at up to 192000 Hz"},
        {"encode " + Path("pic008.png") + " " + movie + " --track 7=x", "--track"},
        // A shell glob that names two pictures makes the second one the output.
        {"encode " + Path("pic008.png") + " " + Path("pic009.png"), "one of the inputs"},
    };
    const auto secondPicture = ReadFileBytes(folder_ / "pic009.png");
    for (const Case& c : cases) {
        RunResult result = RunTool(c.arguments);
        EXPECT_EQ(result.status, 1) << c.arguments;
        EXPECT_EQ(std::count(result.output.begin(), result.output.end(), '\n'), 1) << result.output;
        EXPECT_EQ(result.output.rfind("zmbtool: encode: ", 0), 0u) << result.output;
        EXPECT_NE(result.output.find(c.mentions), std::string::npos) << result.output;
        EXPECT_FALSE(fs::exists(movie)) << c.arguments;
        EXPECT_FALSE(fs::exists(movie + ".part")) << c.arguments;
    }
    EXPECT_FALSE(fs::exists(folder_ / "absent"));
    EXPECT_EQ(ReadFileBytes(folder_ / "pic009.png"), secondPicture);

    // Truecolour and greyscale pictures are reduced to a palette.
    for (const char* accepted : {"rgb1.png", "grey1.png"})
        EXPECT_EQ(RunTool("encode -f " + Path(accepted) + " " + movie).status, 0) << accepted;
    // The inexact palette is stored rounded, with one note saying so (besides the busiest
    // second, which every encode reports).
    const RunResult rounded = RunTool("encode -f " + Path("odd1.png") + " " + movie);
    ASSERT_EQ(rounded.status, 0);
    EXPECT_EQ(std::count(rounded.output.begin(), rounded.output.end(), '\n'), 2) << rounded.output;
    EXPECT_NE(rounded.output.find("busiest second: "), std::string::npos) << rounded.output;
    EXPECT_NE(rounded.output.find("rounded"), std::string::npos) << rounded.output;
    ASSERT_EQ(RunTool("decode " + movie + " --raw " + Path("r.raw")).status, 0);
    EXPECT_EQ(ReadFileBytes(folder_ / "r.raw")[5], 0);
}

TEST_F(ZmbtoolEncode, DecodePngRefusesAMissingFolderAndKeepsFramesBeforeDamage) {
    WriteSequence(2);
    const std::string movie = Path("p.zmb");
    ASSERT_EQ(RunTool("encode " + Path("pic008.png") + " " + movie + " --count 2").status, 0);
    EXPECT_EQ(RunTool("decode " + movie + " --png " + Path("absent")).status, 1);
    EXPECT_FALSE(fs::exists(folder_ / "absent"));
    // A movie cut short is no failure of the outputs: the frame before the cut is kept, and
    // the status says the movie was damaged.
    fs::copy_file(movie, Path("cut.zmb"));
    fs::resize_file(Path("cut.zmb"), fs::file_size(movie) - 4);
    RunResult cut = RunTool("decode " + Path("cut.zmb") + " --png " + Path("out"));
    EXPECT_EQ(cut.status, 3) << cut.output;
    EXPECT_TRUE(fs::exists(folder_ / "out" / "frame00000.png"));
    EXPECT_FALSE(fs::exists(folder_ / "out" / "frame00001.png"));
}

// An interlaced or doubled movie stores one row of each pair of its pictures' rows: shown as
// stored, the movie holds the pictures' even rows.
TEST_F(ZmbtoolEncode, InterlacedAndDoubledMoviesKeepEveryOtherRow) {
    std::vector<Frame> frames;
    for (int n = 0; n < 2; ++n) {
        frames.push_back(MakeFrame(n, 16, 16));
        WritePng(folder_ / ("tall" + std::to_string(n) + ".png"), frames.back());
    }
    for (const std::string kind : {"--interlaced", "--doubled"}) {
        SCOPED_TRACE(kind);
        const RunResult encoded =
            RunTool("encode " + Path("tall0.png") + " " + Path("m.zmb") + " -f --lossless " + kind);
        ASSERT_EQ(encoded.status, 0) << encoded.output;
        ASSERT_EQ(
            RunTool("decode " + Path("m.zmb") + " -f --scale none --raw " + Path("s.raw")).status,
            0);
        const std::vector<std::uint8_t> stored = ReadFileBytes(folder_ / "s.raw");
        ASSERT_EQ(stored.size(), 2u * (768 + 16 * 8));
        for (std::size_t n = 0; n < 2; ++n)
            for (std::size_t y = 0; y < 8; ++y)
                EXPECT_TRUE(std::equal(frames[n].pixels.begin() + 32 * y,
                                       frames[n].pixels.begin() + 32 * y + 16,
                                       stored.begin() + n * (768 + 128) + 768 + 16 * y))
                    << n << " row " << y;
    }
}
