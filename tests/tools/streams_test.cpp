// SPDX-License-Identifier: MIT
// zmbtool decode's outputs as other programs meet them: where they may be written, the
// streams checked against the raw frames, and damaged movies salvaged.
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/movie_names.h"
#include "encoder/writer.h"
#include "file_bytes.h"
#include "run_tool.h"

namespace fs = std::filesystem;
using zambrel::testing::ReadFileBytes;
using namespace zambrel::encoder;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kWidth = 32, kHeight = 16, kFrames = 9;

// A frame of --raw: its palette and its picture.
struct RawFrame {
    const std::uint8_t* palette;
    const std::uint8_t* pixels;
    std::array<std::uint8_t, 3> Colour(std::size_t i) const {
        const std::uint8_t* c = palette + pixels[i] * 3;
        return {c[0], c[1], c[2]};
    }
};

// The GIF read back by giflib and played onto a canvas must show every frame exactly, for as
// long as the movie shows it (66.66 ms a frame; unchanged frames lengthen the one before),
// and never an index beyond its colour table.
void ExpectGifShows(const std::string& path, const std::vector<RawFrame>& frames,
                    std::uint32_t width, int* images) {
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
    ASSERT_NE(gif, nullptr);
    ASSERT_EQ(DGifSlurp(gif), GIF_OK);
    const std::size_t pixels = std::size_t{width} * std::size_t(gif->SHeight);
    ASSERT_EQ(gif->SWidth, int(width));
    std::vector<std::array<std::uint8_t, 3>> canvas(pixels);
    std::size_t shownUntil = 0, delay = 0;  // movie frames and 1/100 s covered so far
    for (int g = 0; g < gif->ImageCount; ++g) {
        const SavedImage& image = gif->SavedImages[g];
        const GifImageDesc& d = image.ImageDesc;
        const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
        GraphicsControlBlock control;
        ASSERT_EQ(DGifSavedExtensionToGCB(gif, g, &control), GIF_OK);
        ASSERT_NE(control.DisposalMode, DISPOSE_BACKGROUND);
        ASSERT_NE(control.DisposalMode, DISPOSE_PREVIOUS);
        ASSERT_LT(control.TransparentColor, map->ColorCount);
        // A see-through pixel leaves the canvas as it was.
        for (int y = 0; y < d.Height; ++y)
            for (int x = 0; x < d.Width; ++x) {
                const int index = image.RasterBits[y * d.Width + x];
                if (index == control.TransparentColor) continue;
                ASSERT_LT(index, map->ColorCount) << g;
                const GifColorType c = map->Colors[index];
                canvas[std::size_t(d.Top + y) * width + std::size_t(d.Left + x)] = {c.Red, c.Green,
                                                                                    c.Blue};
            }
        delay += static_cast<std::size_t>(control.DelayTime);
        // The movie frames whose time falls in this GIF frame's span all look like it.
        for (; shownUntil < frames.size() && std::lround(shownUntil * 6.666) < long(delay);
             ++shownUntil)
            for (std::size_t i = 0; i < pixels; ++i)
                ASSERT_EQ(canvas[i], frames[shownUntil].Colour(i)) << shownUntil << " " << i;
    }
    EXPECT_EQ(shownUntil, frames.size());
    *images = gif->ImageCount;
    DGifCloseFile(gif, &error);
}

// A movie whose frames each take, at random, one of the shapes the GIF writer codes in its
// own way: noise over the whole picture (its LZW table fills and starts again), a few
// scattered pixels, a block of few colours, two patches of many colours in opposite corners,
// a new palette over the same picture, nothing at all. Its palettes hold 256 colours, or many
// entries sharing a few colours, or colours the first frame's lacked.
MovieRecipe ShapesMovie(std::uint32_t seed, std::uint32_t width, std::uint32_t height) {
    std::mt19937 random(seed);
    MovieRecipe recipe;
    recipe.width = width, recipe.height = height;
    Picture picture;
    picture.pixels.assign(std::size_t{width} * height, 0);
    const auto repaint = [&](int kind) {
        for (int e = 0; e < 256; ++e) {
            const int levels[3] = {e & 63, e >> 6 | (kind << 2), 63 - (e & 63)};
            for (int c = 0; c < 3; ++c)
                picture.palette[e * 3 + c] = WidenLevel(
                    static_cast<std::uint8_t>(kind == 1 ? (e * (c + 3)) & 7 : levels[c] & 63));
        }
    };
    repaint(int(seed % 3));
    for (int f = 0; f < 14; ++f) {
        switch (f == 0 ? 0 : random() % 6) {
            case 0:
                for (std::uint8_t& p : picture.pixels) p = static_cast<std::uint8_t>(random());
                break;
            case 1:
                for (int n = 0; n < 40; ++n)
                    picture.pixels[random() % picture.pixels.size()] ^= 0x55;
                break;
            case 2: {
                const std::uint32_t left = random() % (width / 2), top = random() % (height / 2);
                const auto colour = static_cast<std::uint8_t>(random() % 4 * 9);
                for (std::uint32_t y = top; y < top + height / 2; ++y)
                    for (std::uint32_t x = left; x < left + width / 2; ++x)
                        picture.pixels[y * width + x] =
                            static_cast<std::uint8_t>(colour + (x / 3 + y / 5) % 3);
                break;
            }
            case 3:
                repaint(int(random() % 3));
                break;
            case 4:  // two patches of many colours, palette entry 0 among them, far apart
                for (std::uint32_t y = 0; y < 16; ++y)
                    for (std::uint32_t x = 0; x < 16; ++x) {
                        const auto colour = static_cast<std::uint8_t>(
                            x < 4 && y < 4 ? 0 : (x / 4 * 4 + y / 4) * 13 + f);
                        picture.pixels[y * width + x] = colour;
                        picture.pixels[(height - 1 - y) * width + width - 1 - x] = colour;
                    }
                break;
            default:
                break;
        }
        recipe.pictures.push_back(picture);
    }
    return recipe;
}

class ZmbtoolStreams : public ToolFolderTest {
  protected:
    ZmbtoolStreams() : ToolFolderTest("streams") {}

    // Frames that change in part, in whole and not at all, under palettes that change too,
    // with two tracks of the same rate so that they can be mixed.
    std::string WriteMovie(const std::string& name) {
        MovieRecipe recipe;
        recipe.width = kWidth;
        recipe.height = kHeight;
        recipe.frameRate = -6666;
        for (std::uint32_t f = 0; f < kFrames; ++f) {
            Picture picture;
            picture.pixels.resize(kWidth * kHeight);
            for (std::uint32_t i = 0; i < picture.pixels.size(); ++i) {
                const std::uint32_t x = i % kWidth, y = i / kWidth;
                const bool still = f == 4 || (f % 3 == 1 && x < 16);
                picture.pixels[i] = static_cast<std::uint8_t>(still ? x + y : x * y + f * 7);
            }
            if (f == 5) picture.pixels = recipe.pictures.back().pixels;
            for (int e = 0; e < 256; ++e)
                for (int c = 0; c < 3; ++c)
                    picture.palette[e * 3 + c] =
                        WidenLevel(static_cast<std::uint8_t>((e * (c + 1) + (f > 5 ? f : 0)) & 63));
            recipe.pictures.push_back(picture);
        }
        for (int n : {0, 3}) {
            zambrel::encoder::SoundTrack& track = recipe.tracks[n];
            track.present = true;
            track.sampleRate = 11025;
            track.stereo = n == 3;
            track.is16Bit = n == 3;
            track.compressed = n == 0;
            for (int i = 0; i < 11025 * (n == 3 ? 4 : 1); ++i)
                track.samples.push_back(static_cast<std::uint8_t>((i * 29 + n) ^ (i >> 4)));
        }
        const WriteResult written = zambrel::encoder::WriteMovie(recipe);
        EXPECT_TRUE(written.ok) << written.error;
        bytes_ = written.bytes;
        layout_ = written.layout;
        const std::string path = Path(name);
        WriteFile(path, bytes_);
        return path;
    }

    // The frames as --raw gives them: the reference every other stream is checked against.
    std::vector<RawFrame> RawFrames(const std::string& movie,
                                    std::size_t pixels = std::size_t{kWidth} * kHeight) {
        EXPECT_EQ(RunTool("decode -f '" + movie + "' --raw '" + Path("ref.raw") + "'").status, 0);
        raw_ = ReadFileBytes(Path("ref.raw"));
        std::vector<RawFrame> frames;
        const std::size_t frameBytes = 768 + pixels;
        for (std::size_t at = 0; at + frameBytes <= raw_.size(); at += frameBytes)
            frames.push_back({raw_.data() + at, raw_.data() + at + 768});
        return frames;
    }

    static void WriteFile(const std::string& path, const Bytes& bytes) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }

    // Where stored frame F starts in the movie last written.
    std::size_t FrameStart(std::uint32_t f) const {
        std::size_t at = layout_.firstFrameOffset;
        for (std::uint32_t i = 0; i < f; ++i) at += layout_.frameSizes[i];
        return at;
    }

    Bytes raw_, bytes_;
    MovieLayout layout_;
};

}  // namespace

TEST_F(ZmbtoolStreams, OutputsGoWhereTheyPointAndNeverOverAnInput) {
    const std::string movie = WriteMovie("m.zmb");
    ASSERT_EQ(RawFrames(movie).size(), kFrames);
    const Bytes raw = raw_;

    // A FIFO is written in place: its reader gets the stream and it stays a FIFO.
    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
    Bytes fromFifo;
    std::thread reader([&] { fromFifo = ReadFileBytes(Path("fifo")); });
    EXPECT_EQ(RunTool("decode '" + movie + "' --raw '" + Path("fifo") + "'").status, 0);
    reader.join();
    EXPECT_EQ(fromFifo, raw);
    EXPECT_TRUE(fs::is_fifo(Path("fifo")));

    // "-" is standard output, through a pipe.
    const RunResult piped = RunTool("decode '" + movie + "' --raw - 2>/dev/null");
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(Bytes(piped.output.begin(), piped.output.end()), raw);

    // A symlink is followed: the target gets the output and the link stays a link.
    fs::create_directories(folder_ / "real");
    fs::create_symlink("real/target.raw", folder_ / "link.raw");
    EXPECT_EQ(RunTool("decode '" + movie + "' --raw '" + Path("link.raw") + "'").status, 0);
    EXPECT_TRUE(fs::is_symlink(folder_ / "link.raw"));
    EXPECT_EQ(ReadFileBytes(folder_ / "real" / "target.raw"), raw);

    // Refused before anything is written: the input itself (also through a link), a folder,
    // a missing folder, one file named twice. Nothing else of the run may appear.
    const Bytes original = ReadFileBytes(movie);
    fs::create_symlink("m.zmb", folder_ / "m-link.zmb");
    for (const std::string& outputs :
         {"--raw '" + movie + "'", "--y4m '" + Path("m-link.zmb") + "'",
          "--gif '" + folder_.string() + "'", "--rgb24 '" + Path("absent/x.rgb") + "'",
          "--y4m '" + Path("twice") + "' --rgba '" + Path("twice") + "'"}) {
        const RunResult refused =
            RunTool("decode '" + movie + "' --wav '" + Path("late.wav") + "' " + outputs);
        EXPECT_EQ(refused.status, 1) << outputs << "\n" << refused.output;
        EXPECT_EQ(std::count(refused.output.begin(), refused.output.end(), '\n'), 1)
            << refused.output;
        EXPECT_FALSE(fs::exists(Path("late.wav"))) << outputs;
        EXPECT_FALSE(fs::exists(Path("twice"))) << outputs;
    }
    EXPECT_EQ(ReadFileBytes(movie), original);
    // Nothing but what the run meant to leave: no temporaries beside the outputs.
    for (const auto& entry : fs::directory_iterator(folder_))
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
}

TEST_F(ZmbtoolStreams, Y4mRgbAndGifCarryTheDecodedFrames) {
    const std::string movie = WriteMovie("m.zmb");
    const std::vector<RawFrame> frames = RawFrames(movie);
    ASSERT_EQ(frames.size(), kFrames);
    const RunResult run =
        RunTool("decode '" + movie + "' --y4m '" + Path("m.y4m") + "' --chroma 444 --rgb24 '" +
                Path("m.rgb") + "' --rgba '" + Path("m.rgba") + "' --gif '" + Path("m.gif") + "'");
    ASSERT_EQ(run.status, 0) << run.output;

    const Bytes y4m = ReadFileBytes(Path("m.y4m")), rgb = ReadFileBytes(Path("m.rgb")),
                rgba = ReadFileBytes(Path("m.rgba"));
    // -6666 is 66.66 ms a frame: exactly 100000/6666 = 50000/3333 frames a second.
    const std::string header = "YUV4MPEG2 W32 H16 F50000:3333 Ip A1:1 C444";
    ASSERT_EQ(std::string(y4m.begin(), y4m.begin() + header.size()), header);
    const std::size_t start = std::find(y4m.begin(), y4m.end(), '\n') - y4m.begin() + 1;
    const std::size_t pixels = kWidth * kHeight, y4mFrame = 6 + 3 * pixels;
    ASSERT_EQ(y4m.size(), start + kFrames * y4mFrame);
    ASSERT_EQ(rgb.size(), kFrames * pixels * 3);
    ASSERT_EQ(rgba.size(), kFrames * pixels * 4);
    for (std::size_t f = 0; f < kFrames; ++f) {
        const std::uint8_t* planes = y4m.data() + start + f * y4mFrame + 6;
        for (std::size_t i = 0; i < pixels; ++i) {
            const auto c = frames[f].Colour(i);
            ASSERT_EQ(rgb[(f * pixels + i) * 3 + 1], c[1]) << f << " " << i;
            ASSERT_EQ(rgba[(f * pixels + i) * 4 + 2], c[2]) << f << " " << i;
            ASSERT_EQ(rgba[(f * pixels + i) * 4 + 3], 255);
            // BT.601 in limited range, computed here on its own terms.
            const double y = 16 + (65.481 * c[0] + 128.553 * c[1] + 24.966 * c[2]) / 255;
            const double cr = 128 + (112.0 * c[0] - 93.786 * c[1] - 18.214 * c[2]) / 255;
            ASSERT_NEAR(planes[i], y, 0.51) << f << " " << i;
            ASSERT_NEAR(planes[2 * pixels + i], cr, 0.51) << f << " " << i;
        }
    }

    int images = 0;
    ExpectGifShows(Path("m.gif"), frames, kWidth, &images);
    EXPECT_LT(images, int(kFrames));  // the unchanged frame was merged
}

// GIFs of many generated movies, each checked frame by frame against --raw.
TEST_F(ZmbtoolStreams, GifShowsEveryFrameOfGeneratedMoviesExactly) {
    for (std::uint32_t seed = 1; seed <= 6; ++seed) {
        SCOPED_TRACE(seed);
        const std::uint32_t width = seed % 2 ? 128 : 96, height = seed % 2 ? 96 : 64;
        std::string error;
        ASSERT_TRUE(zambrel::encoder::WriteMovieFile(ShapesMovie(seed, width, height),
                                                     Path("g.zmb"), &error))
            << error;
        const std::vector<RawFrame> frames = RawFrames(Path("g.zmb"), std::size_t{width} * height);
        ASSERT_EQ(frames.size(), 14u);
        const RunResult run =
            RunTool("decode -f '" + Path("g.zmb") + "' --gif '" + Path("g.gif") + "'");
        ASSERT_EQ(run.status, 0) << run.output;
        int images = 0;
        ExpectGifShows(Path("g.gif"), frames, width, &images);
    }
}

TEST_F(ZmbtoolStreams, WavFileIsOneTrackAsStoredOrTheClippedSumOfSeveral) {
    const std::string movie = WriteMovie("m.zmb");
    ASSERT_EQ(RunTool("decode '" + movie + "' --pcm '" + folder_.string() + "' --wav '" +
                      Path("t0.wav") + "' --tracks 0")
                  .status,
              0);
    const Bytes t0 = ReadFileBytes(Path("track0.pcm")), t3 = ReadFileBytes(Path("track3.pcm"));
    const Bytes single = ReadFileBytes(Path("t0.wav"));
    ASSERT_EQ(single.size(), 44 + t0.size() + t0.size() % 2);  // RIFF pads to even sizes
    EXPECT_TRUE(std::equal(t0.begin(), t0.end(), single.begin() + 44));

    ASSERT_EQ(RunTool("decode '" + movie + "' --wav '" + Path("mix.wav") + "'").status, 0);
    const Bytes mix = ReadFileBytes(Path("mix.wav"));
    // Track 0 is 8-bit mono, track 3 16-bit stereo: the mix is 16-bit stereo.
    ASSERT_EQ(mix.size(), 44 + t3.size());
    EXPECT_EQ(mix[22], 2);
    EXPECT_EQ(mix[34], 16);
    for (std::size_t i = 0; i < t3.size() / 2; ++i) {
        const int own = static_cast<std::int16_t>(t3[i * 2] | t3[i * 2 + 1] << 8);
        const int other = i / 2 < t0.size() ? (t0[i / 2] - 128) * 256 : 0;
        const int want = std::clamp(own + other, -32768, 32767);
        ASSERT_EQ(static_cast<std::int16_t>(mix[44 + i * 2] | mix[45 + i * 2] << 8), want) << i;
    }
}

TEST_F(ZmbtoolStreams, ADamagedMovieGivesBackEveryWholeFrameWithStatusThree) {
    const std::string movie = WriteMovie("whole.zmb");
    ASSERT_EQ(RawFrames(movie).size(), kFrames);
    EXPECT_EQ(RunTool("verify '" + movie + "'").status, 0);
    // Damaged at frame 6 in two ways: the file cut 10 bytes into it, and its first sound
    // chunk's length running out of the frame. Frames 0 to 5 are whole either way.
    const std::size_t start = FrameStart(6);
    ASSERT_NE(layout_.frameTypes[6] & 0xFE, 0);  // a sound chunk comes first after the palette
    const std::size_t chunk =
        start + ((layout_.frameTypes[6] & FRAME_PALETTE) ? bytes_[start] * 4 : 0);
    Bytes overrun = bytes_;
    overrun[chunk + 2] = 0x7F;
    WriteFile(Path("cut\\name.zmb"), Bytes(bytes_.begin(), bytes_.begin() + start + 10));
    WriteFile(Path("overrun.zmb"), overrun);

    // A backslash in a name is just a character of it.
    for (const std::string& damaged : {Path("cut\\name.zmb"), Path("overrun.zmb")}) {
        SCOPED_TRACE(damaged);
        const RunResult info = RunTool("info '" + damaged + "'");
        EXPECT_EQ(info.status, 3) << info.output;
        EXPECT_NE(info.output.find("whole frames:     6 of 9"), std::string::npos) << info.output;
        const RunResult verify = RunTool("verify '" + damaged + "'");
        EXPECT_EQ(verify.status, 3) << verify.output;
        EXPECT_NE(verify.output.find(": frame 6: "), std::string::npos) << verify.output;

        const RunResult run = RunTool("decode -f '" + damaged + "' --raw '" + Path("part.raw") +
                                      "' --pcm '" + folder_.string() + "'");
        EXPECT_EQ(run.status, 3) << run.output;
        EXPECT_NE(run.output.find("frame 6"), std::string::npos) << run.output;
        const Bytes salvaged = ReadFileBytes(Path("part.raw"));
        ASSERT_EQ(salvaged.size(), 6 * (768 + kWidth * kHeight));
        EXPECT_TRUE(std::equal(salvaged.begin(), salvaged.end(), raw_.begin()));
        EXPECT_GT(fs::file_size(Path("track3.pcm")), 0u);
    }
}
