// SPDX-License-Identifier: MIT
// zmbtool tracks, checked against the writer itself: a movie whose tracks are swapped must
// be exactly the movie the writer makes from the same pictures with the new tracks, so every
// picture and palette chunk is untouched and the sound is cut and led as encode cuts it; and
// the library must decode the new track to the sound file's own samples.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "encoder/writer.h"
#include "file_bytes.h"
#include "run_tool.h"
#include "wav_write.h"

namespace {

namespace fs = std::filesystem;
namespace enc = zambrel::encoder;
using zambrel::testing::ReadFileBytes;

struct Case {
    bool ring;
    std::int32_t frameRate;
    int rate, channels, bits;
    bool raw;
};

std::uint32_t Seeded(std::uint32_t& state) {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
}

// Pictures with flat areas, two-colour and many-colour blocks, and palettes that change now
// and then, so every kind of chunk is there to be kept.
std::vector<enc::Picture> Pictures(int count, std::uint32_t seed) {
    std::vector<enc::Picture> pictures(static_cast<std::size_t>(count));
    for (int f = 0; f < count; ++f) {
        enc::Picture& p = pictures[static_cast<std::size_t>(f)];
        p.pixels.resize(32 * 16);
        for (std::size_t i = 0; i < p.pixels.size(); ++i)
            p.pixels[i] = i % 32 < 16 ? static_cast<std::uint8_t>(f / 3)
                                      : static_cast<std::uint8_t>(Seeded(seed) % 6);
        for (std::size_t i = 0; i < p.palette.size(); ++i)
            p.palette[i] = enc::WidenLevel(static_cast<std::uint8_t>((i * 7 + f / 4) % 64));
    }
    return pictures;
}

std::vector<std::uint8_t> Samples(const Case& c, double seconds, std::uint32_t seed) {
    const long frames = static_cast<long>(c.rate * seconds);
    std::vector<std::uint8_t> bytes;
    for (long i = 0; i < frames * c.channels * (c.bits / 8); ++i)
        bytes.push_back(static_cast<std::uint8_t>(Seeded(seed)));
    return bytes;
}

enc::SoundTrack Track(const Case& c, std::vector<std::uint8_t> samples) {
    enc::SoundTrack track;
    track.present = true;
    track.sampleRate = static_cast<std::uint32_t>(c.rate);
    track.stereo = c.channels == 2;
    track.is16Bit = c.bits == 16;
    track.compressed = !c.raw;
    track.samples = std::move(samples);
    return track;
}

class ZmbtoolTracks : public ToolFolderTest {
  protected:
    ZmbtoolTracks() : ToolFolderTest("tracks") {}

    enc::MovieRecipe Recipe(const Case& c, int frames) {
        enc::MovieRecipe recipe;
        recipe.width = 32;
        recipe.height = 16;
        recipe.frameRate = c.frameRate;
        recipe.ring = c.ring;
        recipe.soundLead = enc::kAutomaticSoundLead;
        recipe.paletteValues = enc::PaletteValues::Round;
        recipe.blockErrorBudget = 300;
        recipe.pictures = Pictures(frames, 7);
        return recipe;
    }

    std::string Write(const enc::MovieRecipe& recipe, const std::string& name) {
        std::string error;
        EXPECT_TRUE(enc::WriteMovieFile(recipe, Path(name), &error)) << error;
        return Path(name);
    }
};

// Across frame rates, ring or none, and sound formats: a track replaced, one added, one
// dropped and one kept give the writer's own movie, and the library's sound is the file's.
TEST_F(ZmbtoolTracks, SwappedTracksGiveTheWritersMovieAndTheFilesSamples) {
    const Case cases[] = {
        {false, -6666, 22050, 1, 8, false},
        {true, -6666, 44100, 2, 16, false},
        {true, 100, 11025, 2, 8, false},
        {false, 40, 8000, 1, 16, true},
    };
    const double frameSeconds[] = {0.06666, 0.06666, 0.1, 0.04};
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE("case " + std::to_string(index));
        const double seconds = frameSeconds[index++] * 40;
        enc::MovieRecipe recipe = Recipe(c, 40);
        recipe.tracks[0] = Track(c, Samples(c, seconds * 0.9, 1));
        recipe.tracks[1] = Track(c, Samples(c, seconds * 0.5, 2));
        recipe.tracks[4] = Track(c, Samples(c, seconds * 0.7, 3));
        const std::string in = Write(recipe, "in.zmb");

        const auto voice = Samples(c, seconds * 0.8, 4), extra = Samples(c, seconds * 0.3, 5);
        ASSERT_TRUE(WriteWav(Path("voice.wav"), c, voice));
        ASSERT_TRUE(WriteWav(Path("extra.wav"), c, extra));
        const RunResult run = RunTool(
            "tracks " + in + " " + Path("out.zmb") + " --set 0=" + Path("voice.wav") +
            " --set 6=" + Path("extra.wav") + " --drop 1 -f" + (c.raw ? " --raw-sound" : ""));
        ASSERT_EQ(run.status, 0) << run.output;

        recipe.tracks[0] = Track(c, voice);
        recipe.tracks[6] = Track(c, extra);
        recipe.tracks[1] = enc::SoundTrack{};
        EXPECT_TRUE(ReadFileBytes(Path("out.zmb")) == ReadFileBytes(Write(recipe, "want.zmb")));

        const RunResult verify = RunTool("verify " + Path("out.zmb"));
        EXPECT_EQ(verify.status, 0) << verify.output;
        fs::remove_all(Path("pcm"));
        fs::create_directory(Path("pcm"));
        const RunResult pcm = RunTool("decode " + Path("out.zmb") + " --pcm " + Path("pcm"));
        ASSERT_EQ(pcm.status, 0) << pcm.output;
        EXPECT_TRUE(ReadFileBytes(Path("pcm/track0.pcm")) == voice);
        EXPECT_TRUE(ReadFileBytes(Path("pcm/track6.pcm")) == extra);
        EXPECT_FALSE(fs::exists(Path("pcm/track1.pcm")));
    }
}

// Each refusal names the file, fails with status 1 and leaves the output as it was.
TEST_F(ZmbtoolTracks, RefusesWhatDoesNotFitAndWritesNothing) {
    const Case c{false, -6666, 22050, 1, 16, false};
    enc::MovieRecipe recipe = Recipe(c, 15);
    recipe.tracks[2] = Track(c, Samples(c, 0.5, 1));
    const std::string in = Write(recipe, "in.zmb");
    ASSERT_TRUE(WriteWav(Path("long.wav"), c, Samples(c, 1.5, 2)));
    ASSERT_TRUE(WriteWav(Path("ok.wav"), c, Samples(c, 0.5, 3)));
    const std::string out = " " + Path("out.zmb");
    const std::pair<std::string, std::string> refusals[] = {
        {"--set 0=" + Path("long.wav"), "long.wav: the sound needs"},
        {"--set 0=" + Path("in.zmb"), "in.zmb"},
        {"--drop 3", "has no track 3"},
        {"--set 2=" + Path("ok.wav") + " --drop 2", "both set and dropped"},
        {"", "give --set or --drop"},
    };
    for (const auto& [options, reason] : refusals) {
        const RunResult run = RunTool("tracks " + in + out + " " + options);
        EXPECT_EQ(run.status, 1) << options;
        EXPECT_NE(run.output.find(reason), std::string::npos) << run.output;
        EXPECT_FALSE(fs::exists(Path("out.zmb"))) << options;
    }
    const RunResult exists = RunTool("tracks " + in + " " + in + " --drop 2");
    EXPECT_EQ(exists.status, 1) << exists.output;
    EXPECT_TRUE(ReadFileBytes(in) == ReadFileBytes(Write(recipe, "again.zmb")));
}

// A movie cut short is refused; with --salvage its whole frames are kept and the new track
// is fitted to them, and the result is whole.
TEST_F(ZmbtoolTracks, SalvagesTheWholeFramesOfADamagedMovie) {
    const Case c{true, -6666, 22050, 2, 16, false};
    enc::MovieRecipe recipe = Recipe(c, 30);
    recipe.tracks[0] = Track(c, Samples(c, 1.5, 1));
    const std::string in = Write(recipe, "in.zmb");
    fs::resize_file(in, fs::file_size(in) - 3000);
    ASSERT_TRUE(WriteWav(Path("voice.wav"), c, Samples(c, 0.6, 2)));
    const std::string args =
        "tracks " + in + " " + Path("out.zmb") + " --set 0=" + Path("voice.wav");
    const RunResult refused = RunTool(args);
    EXPECT_EQ(refused.status, 1) << refused.output;
    EXPECT_NE(refused.output.find("--salvage"), std::string::npos) << refused.output;
    EXPECT_FALSE(fs::exists(Path("out.zmb")));

    const RunResult salvaged = RunTool(args + " --salvage");
    EXPECT_EQ(salvaged.status, 3) << salvaged.output;
    const RunResult verify = RunTool("verify " + Path("out.zmb"));
    EXPECT_EQ(verify.status, 0) << verify.output;
    const RunResult info = RunTool("info " + Path("out.zmb"));
    EXPECT_NE(info.output.find("ring frame:       no"), std::string::npos) << info.output;
}

}  // namespace
