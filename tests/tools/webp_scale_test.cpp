// SPDX-License-Identifier: MIT
// zmbtool decode's animated WebP read back by libwebp's own animation decoder, and --scale's
// enlargement checked against the unscaled frames repeated here.
#include <gtest/gtest.h>
#include <png.h>
#include <webp/demux.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "encoder/writer.h"
#include "file_bytes.h"
#include "run_tool.h"

namespace fs = std::filesystem;
using zambrel::testing::ReadFileBytes;
namespace enc = zambrel::encoder;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kFrames = 9;

struct Shape {
    std::uint32_t width = 48, height = 32;
    bool doubled = false, interlaced = false;
};

// Frames that change in part, in whole and not at all, under palettes that change too, at
// 66.66 ms a frame, with a sound track (which the WebP leaves out).
enc::WriteResult MakeMovie(const Shape& shape) {
    enc::MovieRecipe recipe;
    recipe.width = shape.width;
    recipe.height = shape.height;
    recipe.doubled = shape.doubled;
    recipe.interlaced = shape.interlaced;
    recipe.frameRate = -6666;
    for (std::uint32_t f = 0; f < kFrames; ++f) {
        enc::Picture picture;
        picture.pixels.resize(std::size_t{shape.width} * shape.height);
        for (std::uint32_t i = 0; i < picture.pixels.size(); ++i) {
            const std::uint32_t x = i % shape.width, y = i / shape.width;
            const bool still = f == 4 || (f % 3 == 1 && x < 16);
            picture.pixels[i] = static_cast<std::uint8_t>(still ? x + y : x * y + f * 7);
        }
        if (f == 5) picture.pixels = recipe.pictures.back().pixels;
        for (int e = 0; e < 256; ++e)
            for (int c = 0; c < 3; ++c)
                picture.palette[e * 3 + c] = enc::WidenLevel(
                    static_cast<std::uint8_t>((e * (c + 1) + (f > 6 ? f : 0)) & 63));
        recipe.pictures.push_back(picture);
    }
    enc::SoundTrack& track = recipe.tracks[0];
    track.present = true;
    track.sampleRate = 11025;
    for (int i = 0; i < 11025; ++i) track.samples.push_back(static_cast<std::uint8_t>(i * 7));
    const enc::WriteResult written = enc::WriteMovie(recipe);
    EXPECT_TRUE(written.ok) << written.error;
    return written;
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// When movie frame N starts, in ms: the running time rounded, as a player's clock runs.
int StartOf(std::uint32_t n) {
    return static_cast<int>((n * 6666 + 50) / 100);
}

// Every frame of an animated WebP as libwebp shows it, and when each one ends.
struct Animation {
    std::vector<Bytes> canvases;  // RGBA
    std::vector<int> ends;
    std::uint32_t width = 0, height = 0, loops = ~0u;
};

Animation ReadWebp(const std::string& path) {
    const Bytes file = ReadFileBytes(path);
    const WebPData data{file.data(), file.size()};
    WebPAnimDecoderOptions options;
    WebPAnimDecoderOptionsInit(&options);
    options.color_mode = MODE_RGBA;
    WebPAnimDecoder* decoder = WebPAnimDecoderNew(&data, &options);
    Animation animation;
    if (decoder == nullptr) return animation;
    WebPAnimInfo info;
    WebPAnimDecoderGetInfo(decoder, &info);
    animation.width = info.canvas_width, animation.height = info.canvas_height;
    animation.loops = info.loop_count;
    const std::size_t bytes = std::size_t{info.canvas_width} * info.canvas_height * 4;
    while (WebPAnimDecoderHasMoreFrames(decoder)) {
        std::uint8_t* canvas = nullptr;
        int end = 0;
        if (!WebPAnimDecoderGetNext(decoder, &canvas, &end)) break;
        animation.canvases.emplace_back(canvas, canvas + bytes);
        animation.ends.push_back(end);
    }
    WebPAnimDecoderDelete(decoder);
    return animation;
}

// Runs zmbtool with its address space limited to MEGABYTES, and keeps what it says but its
// notes. RunTool names zmbtool first, so a harmless --version takes that place.
RunResult RunLimited(int megabytes, const std::string& arguments) {
    const RunResult run =
        RunTool("--version >/dev/null; ulimit -v " + std::to_string(megabytes * 1024) +
                "; exec " ZMBTOOL_PATH " " + arguments);
    RunResult kept{run.status, {}};
    std::size_t at = 0;
    for (std::size_t end; (end = run.output.find('\n', at)) != std::string::npos; at = end + 1)
        if (run.output.compare(at, 14, "zmbtool: note:") != 0)
            kept.output += run.output.substr(at, end + 1 - at);
    return kept;
}

class ZmbtoolWebpScale : public ToolFolderTest {
  protected:
    ZmbtoolWebpScale() : ToolFolderTest("webp") {}
    std::string Q(const std::string& name) const { return "'" + Path(name) + "'"; }
};

}  // namespace

// The WebP, whole and salvaged from a cut movie, read back: each movie frame's colours
// exactly, for as long as the movie shows it, frames that change nothing merged into the one
// before, and looping for ever.
TEST_F(ZmbtoolWebpScale, WebpShowsEveryFrameExactlyForItsTime) {
    const enc::WriteResult movie = MakeMovie({});
    WriteFile(Path("whole.zmb"), movie.bytes);
    std::size_t cut = movie.layout.firstFrameOffset;
    for (int f = 0; f < 6; ++f) cut += movie.layout.frameSizes[f];
    WriteFile(Path("cut.zmb"), Bytes(movie.bytes.begin(), movie.bytes.begin() + cut + 10));
    ASSERT_EQ(RunTool("decode " + Q("whole.zmb") + " --rgba " + Q("ref.rgba")).status, 0);
    const Bytes rgba = ReadFileBytes(Path("ref.rgba"));
    const std::size_t frameBytes = 48 * 32 * 4;
    ASSERT_EQ(rgba.size(), kFrames * frameBytes);

    for (const auto& [name, frames, status] :
         {std::tuple{"whole.zmb", kFrames, 0}, std::tuple{"cut.zmb", 6u, 3}}) {
        SCOPED_TRACE(name);
        const RunResult run = RunTool("decode -f " + Q(name) + " --webp " + Q("m.webp"));
        ASSERT_EQ(run.status, status) << run.output;
        EXPECT_NE(run.output.find("WebPs carry no sound"), std::string::npos) << run.output;
        const Animation webp = ReadWebp(Path("m.webp"));
        ASSERT_EQ(webp.width, 48u);
        ASSERT_EQ(webp.height, 32u);
        EXPECT_EQ(webp.loops, 0u);
        std::uint32_t changes = 1;
        for (std::uint32_t n = 1; n < frames; ++n)
            changes +=
                !std::equal(rgba.begin() + n * frameBytes, rgba.begin() + (n + 1) * frameBytes,
                            rgba.begin() + (n - 1) * frameBytes);
        EXPECT_EQ(webp.canvases.size(), changes);
        std::uint32_t shown = 0;  // movie frames covered so far
        for (std::size_t w = 0; w < webp.canvases.size(); ++w)
            for (; shown < frames && StartOf(shown) < webp.ends[w]; ++shown)
                ASSERT_TRUE(std::equal(webp.canvases[w].begin(), webp.canvases[w].end(),
                                       rgba.begin() + shown * frameBytes))
                    << "movie frame " << shown << " in WebP frame " << w;
        EXPECT_EQ(shown, frames);
        ASSERT_FALSE(webp.ends.empty());
        EXPECT_EQ(webp.ends.back(), StartOf(frames));
    }
}

// --scale N repeats every pixel N times across and every row N times down, from the shown
// height of doubled and interlaced movies, in the raw RGB stream and in the PNGs alike.
TEST_F(ZmbtoolWebpScale, ScaleRepeatsEveryShownPixel) {
    fs::create_directories(folder_ / "png");
    for (const Shape& shape : {Shape{}, Shape{16, 8, true, false}, Shape{16, 8, false, true}})
        for (std::uint32_t scale : {1u, 3u}) {
            SCOPED_TRACE(std::to_string(shape.height) + (shape.doubled ? " doubled" : "") +
                         (shape.interlaced ? " interlaced" : "") + " x" + std::to_string(scale));
            WriteFile(Path("m.zmb"), MakeMovie(shape).bytes);
            ASSERT_EQ(RunTool("decode -f " + Q("m.zmb") + " --rgb24 " + Q("plain.rgb")).status, 0);
            // A bottom-up decode buffer is read from its last row: the enlargement must be too.
            const std::string scaleOption = " --bottom-up --scale " + std::to_string(scale);
            const RunResult run =
                RunTool("decode -f " + Q("m.zmb") + scaleOption + " --rgb24 " + Q("big.rgb") +
                        " --y4m " + Q("big.y4m") + " --png " + Q("png") + " --format rgb24");
            ASSERT_EQ(run.status, 0) << run.output;
            const Bytes plain = ReadFileBytes(Path("plain.rgb")),
                        big = ReadFileBytes(Path("big.rgb"));
            const std::uint32_t w = shape.width,
                                h = shape.height * (shape.doubled || shape.interlaced ? 2 : 1);
            ASSERT_EQ(plain.size(), std::size_t{kFrames} * w * h * 3);
            ASSERT_EQ(big.size(), plain.size() * scale * scale);
            for (std::size_t i = 0; i < big.size(); ++i) {
                const std::size_t pixel = i / 3, f = pixel / (w * h * scale * scale);
                const std::size_t x = pixel % (w * scale), y = pixel / (w * scale) % (h * scale);
                ASSERT_EQ(big[i], plain[((f * h + y / scale) * w + x / scale) * 3 + i % 3]) << i;
            }
            const Bytes y4m = ReadFileBytes(Path("big.y4m"));
            const std::string size =
                " W" + std::to_string(w * scale) + " H" + std::to_string(h * scale) + " ";
            EXPECT_NE(std::string(y4m.begin(), y4m.begin() + 40).find(size), std::string::npos);
            // The last PNG is the last frame of the stream.
            png_image image{};
            image.version = PNG_IMAGE_VERSION;
            ASSERT_TRUE(png_image_begin_read_from_file(&image, Path("png/frame00008.png").c_str()));
            image.format = PNG_FORMAT_RGB;
            Bytes png(PNG_IMAGE_SIZE(image));
            ASSERT_TRUE(png_image_finish_read(&image, nullptr, png.data(), 0, nullptr));
            ASSERT_EQ(image.width, w * scale);
            ASSERT_EQ(png.size(), big.size() / kFrames);
            EXPECT_TRUE(std::equal(png.begin(), png.end(), big.end() - png.size()));
        }
}

// Counts the lines that say a decode failed.
std::size_t Failures(const std::string& output) {
    std::size_t count = 0;
    for (std::size_t at = output.find("zmbtool: decode: "); at != std::string::npos;
         at = output.find("zmbtool: decode: ", at + 1))
        ++count;
    return count;
}

// A WebP the format cannot hold is refused before a frame is decoded; one the encoder
// fails on part-way, here for want of memory at every limit from too little to enough,
// fails with the encoder's reason. Either way the WebP fails alone: it leaves no output and
// no temporary behind, and the run's WAV is written whole beside it.
TEST_F(ZmbtoolWebpScale, WebpFailuresLeaveNothingBehind) {
    WriteFile(Path("wide.zmb"), MakeMovie({1024, 8}).bytes);
    const RunResult refused = RunTool("decode " + Q("wide.zmb") + " --scale 16 --webp " +
                                      Q("w.webp") + " --wav " + Q("w.wav"));
    EXPECT_EQ(refused.status, 1) << refused.output;
    EXPECT_NE(refused.output.find("at most 16383 pixels"), std::string::npos) << refused.output;
    EXPECT_EQ(Failures(refused.output), 1u) << refused.output;
    EXPECT_FALSE(fs::exists(Path("w.webp")));
    ASSERT_EQ(RunTool("decode " + Q("wide.zmb") + " --wav " + Q("own.wav")).status, 0);
    EXPECT_EQ(ReadFileBytes(Path("w.wav")), ReadFileBytes(Path("own.wav")));
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitiser's own reservations leave no room under a memory limit";
#endif
    WriteFile(Path("m.zmb"), MakeMovie({256, 192}).bytes);
    bool encoderFailed = false, succeeded = false;
    for (int megabytes = 60; megabytes <= 300 && !succeeded; megabytes += 15) {
        SCOPED_TRACE(megabytes);
        const RunResult run =
            RunLimited(megabytes, "decode -f " + Q("m.zmb") + " --frames 2 --scale 8 --webp " +
                                      Q("m.webp") + " --wav " + Q("m.wav"));
        succeeded = run.status == 0;
        if (succeeded) break;
        EXPECT_EQ(run.status, 1) << run.output;
        EXPECT_EQ(Failures(run.output), 1u) << run.output;
        encoderFailed = encoderFailed ||
                        run.output.find("WebP encoder failed, out of memory") != std::string::npos;
        EXPECT_FALSE(fs::exists(Path("m.webp")));
        for (const auto& entry : fs::directory_iterator(folder_))
            EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
    }
    EXPECT_TRUE(succeeded);
    EXPECT_TRUE(encoderFailed);
    EXPECT_EQ(ReadWebp(Path("m.webp")).canvases.size(), 2u);
}
