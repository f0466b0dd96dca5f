// SPDX-License-Identifier: MIT
// zmbtool encode on pictures as people have them: truecolour, greyscale and translucent PNGs
// reduced to a palette, the quality setting, and the ways of naming the pictures.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "encode_clips.h"
#include "file_bytes.h"
#include "run_tool.h"

namespace {

namespace fs = std::filesystem;
namespace clips = zambrel::clips;
using zambrel::testing::ReadFileBytes;

constexpr int kWidth = 64, kHeight = 48, kFrames = 8;

// The peak memory of one zmbtool run in kilobytes, from the system's account of the child;
// -1 when it did not succeed.
long PeakKilobytes(const std::vector<std::string>& arguments) {
    std::vector<char*> argv{const_cast<char*>(ZMBTOOL_PATH)};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        const int quiet = ::open("/dev/null", O_WRONLY);
        ::dup2(quiet, STDOUT_FILENO);
        ::dup2(quiet, STDERR_FILENO);
        ::execv(ZMBTOOL_PATH, argv.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return -1;
    return usage.ru_maxrss;
}

class EncodeTruecolour : public ToolFolderTest {
  protected:
    EncodeTruecolour() : ToolFolderTest("truecolour") {}

    void WriteClip(const clips::Clip& clip, const std::string& stem) const {
        for (std::size_t f = 0; f < clip.frames.size(); ++f) {
            char name[64];
            std::snprintf(name, sizeof name, "%s%04zu.png", stem.c_str(), f);
            ASSERT_TRUE(clips::WriteRgbPng(Path(name), clip.width, clip.height, clip.frames[f]));
        }
    }

    // The pictures a movie shows, red, green, blue per pixel, from `zmbtool decode --raw`.
    std::vector<std::vector<std::uint8_t>> Shown(const std::string& movie, int width,
                                                 int height) const {
        const std::string raw = Path("shown.raw");
        EXPECT_EQ(RunTool("decode " + movie + " --force --raw " + raw).status, 0);
        std::ifstream in(raw, std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        const std::size_t pixels = std::size_t(width) * height, frame = 768 + pixels;
        std::vector<std::vector<std::uint8_t>> shown;
        for (std::size_t at = 0; at + frame <= bytes.size(); at += frame) {
            std::vector<std::uint8_t> rgb;
            for (std::size_t i = 0; i < pixels; ++i)
                for (int c = 0; c < 3; ++c) rgb.push_back(bytes[at + bytes[at + 768 + i] * 3 + c]);
            shown.push_back(std::move(rgb));
        }
        return shown;
    }

    // The index pictures alone, for checking which indices stayed.
    std::vector<std::vector<std::uint8_t>> Indices(const std::string& movie, int pixels) const {
        const std::string raw = Path("indices.raw");
        EXPECT_EQ(RunTool("decode " + movie + " --force --raw " + raw).status, 0);
        std::ifstream in(raw, std::ios::binary);
        const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        std::vector<std::vector<std::uint8_t>> frames;
        for (std::size_t at = 0; at + 768 + pixels <= bytes.size(); at += 768 + pixels)
            frames.emplace_back(bytes.begin() + at + 768, bytes.begin() + at + 768 + pixels);
        return frames;
    }
};

// Every kind of material, lossless and at the default quality, comes back close to its
// truecolour source: the reduction, the level rounding and the block budget together.
TEST_F(EncodeTruecolour, ClipsComeBackWithinAPsnrFloorAndLowerQualityIsSmaller) {
    struct Floor {
        double lossless, byDefault;
    };
    const Floor floors[] = {{40, 35}, {30, 28}, {24, 23}, {30, 28}};
    const std::vector<clips::Clip> all = clips::AllClips(kWidth, kHeight, kFrames);
    for (std::size_t k = 0; k < all.size(); ++k) {
        const clips::Clip& clip = all[k];
        const std::string stem = "c" + std::to_string(k) + "_";
        WriteClip(clip, stem);
        std::uintmax_t sizes[2] = {};
        for (int lossless = 1; lossless >= 0; --lossless) {
            const std::string movie = Path(stem + ".zmb");
            const RunResult run = RunTool("encode -f " + Path(stem + "%04d.png") + " " + movie +
                                          (lossless ? " --lossless" : ""));
            ASSERT_EQ(run.status, 0) << clip.name << ": " << run.output;
            sizes[lossless] = fs::file_size(movie);
            const auto shown = Shown(movie, kWidth, kHeight);
            ASSERT_EQ(shown.size(), clip.frames.size()) << clip.name;
            for (std::size_t f = 0; f < shown.size(); ++f)
                EXPECT_GE(clips::Psnr(clip.frames[f], shown[f]),
                          lossless ? floors[k].lossless : floors[k].byDefault)
                    << clip.name << " frame " << f << (lossless ? " lossless" : "");
        }
        EXPECT_LE(sizes[0], sizes[1]) << clip.name;
    }
}

// With a palette per scene and no dithering, a picture whose background stands still keeps
// the background's indices, so its blocks are skipped rather than flicker.
TEST_F(EncodeTruecolour, ScenePalettesKeepStillAreasIndices) {
    const clips::Clip clip = clips::FlatAnimation(kWidth * 2, kHeight * 2, kFrames);
    WriteClip(clip, "still");
    const std::string movie = Path("still.zmb");
    ASSERT_EQ(RunTool("encode -f " + Path("still0000.png") + " " + movie + " --lossless").status,
              0);
    const auto frames = Indices(movie, kWidth * 2 * kHeight * 2);
    ASSERT_EQ(frames.size(), clip.frames.size());
    for (std::size_t f = 1; f < frames.size(); ++f)
        for (std::size_t i = 0; i < frames[f].size(); ++i) {
            const bool still = std::equal(&clip.frames[f][i * 3], &clip.frames[f][i * 3 + 3],
                                          &clip.frames[f - 1][i * 3]);
            if (!still) continue;
            ASSERT_EQ(frames[f][i], frames[f - 1][i]) << "frame " << f << " pixel " << i;
        }
}

// Greyscale with alpha, laid on the background colour the user gives; a size that is not
// whole blocks is named, and padded or cropped on request.
TEST_F(EncodeTruecolour, TranslucentGreyIsLaidOnTheBackgroundAndSizesArePaddedOrCropped) {
    const int width = 18, height = 10;
    std::vector<std::uint8_t> greyAlpha;
    for (int i = 0; i < width * height; ++i) {
        greyAlpha.push_back(static_cast<std::uint8_t>(i * 7));
        greyAlpha.push_back(i % 2 ? 255 : 0);  // every other pixel fully transparent
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = PNG_FORMAT_GA;
    ASSERT_TRUE(
        png_image_write_to_file(&image, Path("ga1.png").c_str(), 0, greyAlpha.data(), 0, nullptr));
    const std::string movie = Path("ga.zmb");
    const RunResult refused = RunTool("encode " + Path("ga1.png") + " " + movie);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.output.find("18x10 is not whole 4x4 blocks (--pad makes it 20x12, --crop "
                                  "16x8)"),
              std::string::npos)
        << refused.output;
    EXPECT_FALSE(fs::exists(movie));

    const RunResult padded = RunTool("encode -f " + Path("ga1.png") + " " + movie +
                                     " --pad --lossless --background ff0000");
    ASSERT_EQ(padded.status, 0) << padded.output;
    EXPECT_NE(padded.output.find("background"), std::string::npos) << padded.output;
    auto shown = Shown(movie, 20, 12);
    ASSERT_EQ(shown.size(), 1u);
    const auto at = [&](int x, int y, int c) { return int(shown[0][(y * 20 + x) * 3 + c]); };
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 20; ++x) {
            const bool background = x >= width || y >= height || (y * width + x) % 2 == 0;
            if (!background) {
                const int grey = static_cast<std::uint8_t>((y * width + x) * 7);
                EXPECT_NEAR(at(x, y, 0), grey, 6) << x << "," << y;
                EXPECT_EQ(at(x, y, 0), at(x, y, 2)) << x << "," << y;
            } else {
                EXPECT_EQ(at(x, y, 0) * 65536 + at(x, y, 1) * 256 + at(x, y, 2), 0xFF0000)
                    << x << "," << y;
            }
        }
    ASSERT_EQ(RunTool("encode -f " + Path("ga1.png") + " " + movie + " --crop").status, 0);
    EXPECT_EQ(Shown(movie, 16, 8).size(), 1u);
}

// A pattern, a numbered first file and a list name the same pictures; a gap is refused
// unless allowed; repeated options and an output that is an input are refused; nothing is
// written by a refused run.
TEST_F(EncodeTruecolour, PicturesAreNamedByPatternSeriesOrListAndBadRequestsAreRefused) {
    const clips::Clip clip = clips::MovingGradients(kWidth, kHeight, 4);
    WriteClip(clip, "g");
    fs::rename(Path("g0003.png"), Path("g0004.png"));  // 0, 1, 2, then a gap, then 4
    const std::string movie = Path("g.zmb");
    struct Case {
        std::string arguments;
        int status;
        std::string mentions;
        std::size_t frames;
    };
    const std::string g = Path("g");
    const Case cases[] = {
        {g + "%04d.png " + movie + " --count 3", 0, "", 3},
        {g + "0000.png " + movie + " --count 3", 0, "", 3},
        {g + "0004.png " + g + "0000.png " + movie, 0, "", 2},
        {g + "%04d.png " + movie, 1, "g0003.png is missing, but " + g + "0004.png follows", 0},
        {g + "0001.png " + movie, 1, "--allow-gaps", 0},
        {g + "0001.png " + movie + " --allow-gaps", 0, "g0003.png is missing from the series", 3},
        {g + "%d.png " + movie, 1, "no file matches", 0},
        {g + "%04d%d.png " + movie, 1, "exactly one %d", 0},
        {g + "0000.png " + movie + " --fps 10 --fps 12", 1, "--fps is given twice", 0},
        {g + "0000.png " + movie + " --quality 50 --lossless", 1, "--lossless clashes", 0},
        {g + "0000.png " + movie + " --track 0=a.wav --track 0=b.wav", 1, "given twice", 0},
        {g + "0000.png " + g + "0001.png " + g + "0000.png", 1, "is one of the inputs", 0},
    };
    for (const Case& c : cases) {
        fs::remove(movie);
        const RunResult run = RunTool("encode -f " + c.arguments);
        EXPECT_EQ(run.status, c.status) << c.arguments << "\n" << run.output;
        if (c.status != 0) {
            EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '\n'), 1) << run.output;
            EXPECT_NE(run.output.find(c.mentions), std::string::npos) << run.output;
            EXPECT_FALSE(fs::exists(movie)) << c.arguments;
            continue;
        }
        EXPECT_NE(run.output.find(c.mentions), std::string::npos) << run.output;
        const auto shown = Shown(movie, kWidth, kHeight);
        EXPECT_EQ(shown.size(), c.frames) << c.arguments;
    }
    EXPECT_TRUE(fs::exists(Path("g0000.png")));
}

// One movie palette reads the pictures twice, but a pipe gives its picture only once: the
// movie must be the one the same picture makes from a file.
TEST_F(EncodeTruecolour, APictureFromAPipeIsReadOnceWithOneMoviePalette) {
    WriteClip(clips::MovingGradients(kWidth, kHeight, 3), "p");
    const std::string fifo = Path("pipe.png");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string list = Path("p0000.png") + " " + fifo + " " + Path("p0002.png");
    // Should the picture be asked for again, nobody writes it: the timeout ends the wait.
    const std::string piped = "cat " + Path("p0001.png") + " > " + fifo + " & timeout 60 " +
                              ZMBTOOL_PATH + " encode " + list + " " + Path("piped.zmb") +
                              " --palette movie";
    ASSERT_EQ(std::system(piped.c_str()), 0);
    const std::string files = Path("p0000.png") + " " + Path("p0001.png") + " " + Path("p0002.png");
    ASSERT_EQ(RunTool("encode " + files + " " + Path("files.zmb") + " --palette movie").status, 0);
    EXPECT_EQ(Shown(Path("piped.zmb"), kWidth, kHeight), Shown(Path("files.zmb"), kWidth, kHeight));
}

// Pictures are reduced ahead on every thread with the newest palette and taken in order, so
// a cut that makes a new palette leaves the pictures reduced ahead of it to be done again.
// Cuts of every length after every other, an indexed picture among them and the options
// that change the reduction: any number of threads must write the bytes of one, and a
// picture that cannot be read stops the run as it does on one thread.
TEST_F(EncodeTruecolour, AnyNumberOfThreadsWritesTheMovieOfOneThroughCutsOfEveryLength) {
    const std::vector<clips::Clip> all = clips::AllClips(kWidth, kHeight, 24);
    clips::Clip cuts{"cuts", kWidth, kHeight, {}};
    std::uint32_t seed = 7;
    while (cuts.frames.size() < 72) {
        seed = seed * 1103515245u + 12345u;
        const clips::Clip& from = all[(seed >> 8) % all.size()];
        const std::size_t length = 1 + (seed >> 16) % 12, start = (seed >> 20) % 12;
        for (std::size_t f = start; f < start + length; ++f) cuts.frames.push_back(from.frames[f]);
    }
    WriteClip(cuts, "cut");
    // An indexed picture of greys on the movie's levels, clear of the entries reserved below.
    std::vector<std::uint8_t> indices(std::size_t{kWidth} * kHeight), ramp(768);
    for (std::size_t i = 0; i < indices.size(); ++i)
        indices[i] = static_cast<std::uint8_t>(10 + i % 236);
    for (std::size_t e = 0; e < 768; ++e) {
        const std::size_t level = e / 3 % 64;
        ramp[e] = static_cast<std::uint8_t>(level * 4 + level / 16);
    }
    png_image indexed{};
    indexed.version = PNG_IMAGE_VERSION;
    indexed.width = kWidth;
    indexed.height = kHeight;
    indexed.format = PNG_FORMAT_RGB_COLORMAP;
    indexed.colormap_entries = 256;
    ASSERT_NE(png_image_write_to_file(&indexed, Path("cut0017.png").c_str(), 0, indices.data(), 0,
                                      ramp.data()),
              0);

    const std::string first = Path("cut0000.png");
    std::size_t newPalettes = 0;
    for (const std::string options : {"", " --dither", " --reserve 0-9 --lossless"}) {
        SCOPED_TRACE(options);
        std::vector<std::vector<std::uint8_t>> movies;
        for (const char* threads : {"1", "2", "3"}) {
            const std::string movie = Path(std::string("t") + threads + ".zmb");
            const RunResult run =
                RunTool("encode -f " + first + " " + movie + " --threads " + threads + options);
            ASSERT_EQ(run.status, 0) << run.output;
            movies.push_back(ReadFileBytes(movie));
        }
        EXPECT_TRUE(movies[1] == movies[0]) << "2 threads";
        EXPECT_TRUE(movies[2] == movies[0]) << "3 threads";
        // The cuts did make new palettes, between pictures reduced ahead.
        const std::string raw = Path("t1.raw");
        ASSERT_EQ(RunTool("decode " + Path("t1.zmb") + " --force --raw " + raw).status, 0);
        const std::vector<std::uint8_t> bytes = ReadFileBytes(raw);
        const std::size_t frame = 768 + std::size_t{kWidth} * kHeight;
        for (std::size_t at = frame; at + frame <= bytes.size(); at += frame)
            newPalettes += !std::equal(&bytes[at], &bytes[at + 768], &bytes[at - frame]);
    }
    EXPECT_GT(newPalettes, 3 * 15u);

    std::ofstream(Path("cut0030.png"), std::ios::binary) << "not a picture";
    for (const char* threads : {"1", "2", "3"}) {
        const RunResult run =
            RunTool("encode -f " + first + " " + Path("broken.zmb") + " --threads " + threads);
        EXPECT_EQ(run.status, 1) << threads << " threads: " << run.output;
        EXPECT_NE(run.output.find("cut0030.png"), std::string::npos) << run.output;
        EXPECT_FALSE(fs::exists(Path("broken.zmb")));
    }
}

// Pictures are coded as they are read: four times the pictures take the memory of one, with
// both kinds of palette, where holding them took 150 to 400 KB more for each. A clip of few
// colours, so that the movie palette's gathered colours stay out of the figure.
TEST_F(EncodeTruecolour, PeakMemoryStaysFlatWhateverThePictureCount) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer holds freed memory back, so the peak grows with the work";
#endif
    constexpr int kWide = 320, kHigh = 240, kFew = 16, kMany = 64;
    WriteClip(clips::FlatAnimation(kWide, kHigh, kMany), "m");
    for (const char* palette : {"scene", "movie"}) {
        SCOPED_TRACE(palette);
        // With the work on several threads the peak of one run depends on how the pictures
        // in hand happened to overlap, by up to 2.5 MB (a short run may never fill the
        // pipeline): the most of a few short runs against the least of a few long ones.
        // Holding the pictures would still add 7 MB or more.
        std::vector<long> peaks;
        for (const int count : {kFew, kMany}) {
            long chosen = -1;
            for (int run = 0; run < 3; ++run) {
                const long peak =
                    PeakKilobytes({"encode", Path("m0000.png"), Path("m.zmb"), "--force",
                                   "--palette", palette, "--count", std::to_string(count)});
                ASSERT_GT(peak, 0);
                chosen = chosen < 0      ? peak
                         : count == kFew ? std::max(chosen, peak)
                                         : std::min(chosen, peak);
            }
            peaks.push_back(chosen);
        }
        EXPECT_LT(peaks[1] - peaks[0], 1536)
            << peaks[0] << " KB for " << kFew << " pictures, " << peaks[1] << " KB for " << kMany;
    }
}

}  // namespace
