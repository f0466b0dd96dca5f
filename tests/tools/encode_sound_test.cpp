// SPDX-License-Identifier: MIT
// Movies from zmbtool encode played by the player itself: the sound leads the pictures far
// enough that neither sound driver ever runs dry, at any frame rate and sound format, and
// sound longer than the pictures is heard to its end over the held last picture.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "encode_clips.h"
#include "run_tool.h"
#include "wav_write.h"

#ifndef ZAMBPLY_PATH
#error "ZAMBPLY_PATH must name the player under test"
#endif

namespace {

namespace fs = std::filesystem;

struct SoundCase {
    double fps;
    int rate, channels, bits;
};

// Sample bytes that never sit on silence (0x80 for 8-bit, 0 for 16-bit), so any silence a
// driver put in between shows, and that differ along the sound, so a repeat or a gap shows.
std::vector<std::uint8_t> Tone(const SoundCase& c, double seconds) {
    std::vector<std::uint8_t> bytes;
    const long frames = std::lround(c.rate * seconds);
    for (long i = 0; i < frames; ++i)
        for (int ch = 0; ch < c.channels; ++ch) {
            if (c.bits == 8) {
                bytes.push_back(static_cast<std::uint8_t>(0x81 + (i * 3 + ch) % 100));
            } else {
                const auto v = static_cast<std::uint16_t>(1000 + (i * 7 + ch) % 30000);
                bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
                bytes.push_back(static_cast<std::uint8_t>(v >> 8));
            }
        }
    return bytes;
}

std::vector<std::uint8_t> ReadWavData(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) return {};
    std::vector<std::uint8_t> bytes(4096);
    std::vector<std::uint8_t> all;
    sf_count_t got;
    while ((got = sf_read_raw(file, bytes.data(), static_cast<sf_count_t>(bytes.size()))) > 0)
        all.insert(all.end(), bytes.begin(), bytes.begin() + got);
    sf_close(file);
    return all;
}

// How many bytes of `played` after its leading silence continue `sound` exactly from its
// start; the first byte that does not is where silence or a jump came in.
std::size_t ContiguousBytes(const std::vector<std::uint8_t>& played,
                            const std::vector<std::uint8_t>& sound) {
    std::size_t start = 0;
    while (start < played.size() && played[start] != sound[0]) ++start;
    std::size_t n = 0;
    while (start + n < played.size() && n < sound.size() && played[start + n] == sound[n]) ++n;
    return n;
}

struct Played {
    std::string output;
    std::vector<std::uint8_t> captured;
};

Played Play(const fs::path& folder, const std::string& movie, bool directSound) {
    const std::string capture = (folder / "captured.wav").string();
    fs::remove(capture);
    const std::string command = "cd '" + folder.string() +
                                "' && ZAMBREL_HOST=headless ZAMBREL_AUDIO=simulated "
                                "ZAMBREL_PROFILE=profile.ini ZAMBREL_AUDIO_CAPTURE=" +
                                capture + " timeout 120 " + ZAMBPLY_PATH + " -S " +
                                (directSound ? "-Z " : "") + movie + " 2>&1";
    Played played;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return played;
    std::array<char, 4096> chunk{};
    while (std::size_t n = std::fread(chunk.data(), 1, chunk.size(), pipe))
        played.output.append(chunk.data(), n);
    ::pclose(pipe);
    played.captured = ReadWavData(capture);
    return played;
}

long NumberAfter(const std::string& text, const std::string& label) {
    const std::size_t at = text.find(label);
    return at == std::string::npos ? -1 : std::atol(text.c_str() + at + label.size());
}

class EncodeSound : public ToolFolderTest {
  protected:
    EncodeSound() : ToolFolderTest("sound") {}
    void SetUp() override {
        ToolFolderTest::SetUp();
        const zambrel::clips::Clip clip = zambrel::clips::MovingGradients(64, 48, 2);
        for (int f = 0; f < 2; ++f)
            ASSERT_TRUE(zambrel::clips::WriteRgbPng(Path("p" + std::to_string(f) + ".png"), 64, 48,
                                                    clip.frames[f]));
    }
};

// Two pictures and two seconds of sound: the last picture is held until the sound ends, and
// through wave output and DirectSound alike the player reports no sound skip and the device
// hears the sound without a break, from its start to (nearly) its end.
TEST_F(EncodeSound, EveryFrameRateAndFormatPlaysWithoutASkipToTheEndOfTheSound) {
    const SoundCase cases[] = {
        {5, 8000, 1, 8}, {15, 44100, 2, 16}, {24, 22050, 1, 16}, {60, 11025, 2, 8}};
    constexpr double kSeconds = 2.0;
    for (const SoundCase& c : cases) {
        const std::string label = std::to_string(c.fps) + " fps, " + std::to_string(c.rate) +
                                  " Hz, " + std::to_string(c.bits) + "-bit x" +
                                  std::to_string(c.channels);
        const std::vector<std::uint8_t> sound = Tone(c, kSeconds);
        ASSERT_TRUE(WriteWav(Path("tone.wav"), c, sound));
        const RunResult encoded =
            RunTool("encode -f " + Path("p0.png") + " " + Path("m.zmb") + " --fps " +
                    std::to_string(c.fps) + " --track 0=" + Path("tone.wav"));
        ASSERT_EQ(encoded.status, 0) << label << ": " << encoded.output;
        EXPECT_NE(encoded.output.find("last picture is held"), std::string::npos) << label;
        const long frames = std::lround(std::ceil(kSeconds * c.fps));
        const std::size_t share = sound.size() / static_cast<std::size_t>(frames);
        for (bool directSound : {false, true}) {
            const Played played = Play(folder_, "m.zmb", directSound);
            const std::string run = label + (directSound ? " /Z" : "") + "\n" + played.output;
            EXPECT_EQ(NumberAfter(played.output, "Sound skips: "), 0) << run;
            EXPECT_NEAR(NumberAfter(played.output, "Total frames played: "), frames, 1) << run;
            // The player stops once the last frame is due, so the last frame's share may be
            // cut; a break anywhere before it is a fault.
            EXPECT_GE(ContiguousBytes(played.captured, sound) + 2 * share, sound.size()) << run;
        }
    }
}

// Sound cut to the pictures with --shortest: the movie is as long as the pictures and says so.
TEST_F(EncodeSound, ShortestCutsTheSoundToThePicturesWithANote) {
    const SoundCase c{10, 8000, 1, 8};
    ASSERT_TRUE(WriteWav(Path("tone.wav"), c, Tone(c, 3.0)));
    const RunResult encoded = RunTool("encode " + Path("p0.png") + " " + Path("s.zmb") +
                                      " --fps 10 --shortest --track 0=" + Path("tone.wav"));
    ASSERT_EQ(encoded.status, 0) << encoded.output;
    EXPECT_NE(encoded.output.find("cut to the pictures' 0.20 s"), std::string::npos)
        << encoded.output;
    const RunResult info = RunTool("info " + Path("s.zmb"));
    EXPECT_NE(info.output.find("frames:           2\n"), std::string::npos) << info.output;
    fs::create_directories(folder_ / "pcm");
    ASSERT_EQ(RunTool("decode " + Path("s.zmb") + " --pcm " + Path("pcm")).status, 0);
    EXPECT_EQ(fs::file_size(folder_ / "pcm" / "track0.pcm"), 1600u);
}

}  // namespace

// Sound shorter than the pictures: left as it is with a note giving both lengths as they
// are, or with --pad-sound filled with silence to the last picture, so the pace holds.
TEST_F(EncodeSound, PadSoundFillsTheTrackWithSilenceToTheLastPicture) {
    const SoundCase c{10, 8000, 1, 8};
    const std::vector<std::uint8_t> tone = Tone(c, 0.05);
    ASSERT_TRUE(WriteWav(Path("tone.wav"), c, tone));
    fs::create_directories(folder_ / "pcm");
    for (const bool pad : {false, true}) {
        const RunResult encoded =
            RunTool("encode -f " + Path("p0.png") + " " + Path("s.zmb") +
                    " --fps 10 --track 0=" + Path("tone.wav") + (pad ? " --pad-sound" : ""));
        ASSERT_EQ(encoded.status, 0) << encoded.output;
        EXPECT_EQ(
            encoded.output.find("ends at 0.05 s, the pictures at 0.20 s") != std::string::npos,
            !pad)
            << encoded.output;
        ASSERT_EQ(RunTool("decode -f " + Path("s.zmb") + " --pcm " + Path("pcm")).status, 0);
        std::ifstream in(folder_ / "pcm" / "track0.pcm", std::ios::binary);
        const std::vector<std::uint8_t> pcm{std::istreambuf_iterator<char>(in), {}};
        ASSERT_EQ(pcm.size(), pad ? 1600u : tone.size());
        EXPECT_TRUE(std::equal(tone.begin(), tone.end(), pcm.begin()));
        EXPECT_TRUE(std::all_of(pcm.begin() + static_cast<std::ptrdiff_t>(tone.size()), pcm.end(),
                                [](std::uint8_t b) { return b == 0x80; }));
    }
}
