// SPDX-License-Identifier: MIT
// The player program run whole on the headless host, judged against the library's own
// decoder handles: what a held movie costs, how far a damaged movie plays and what it says,
// and whether the end of the sound and of the last picture are kept.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "encoder/writer.h"
#include "player_run.h"
#include "test_movies.h"
#include "zambrel/decoder.h"
#include "core/movie_names.h"

namespace zambrel::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Written(const encoder::MovieRecipe& recipe) {
    encoder::WriteResult written = encoder::WriteMovie(recipe);
    EXPECT_TRUE(written.ok) << written.error;
    return written.bytes;
}

// ---- The library's view of a movie, through its decoder handles -----------------------

struct MemoryInput {
    const Bytes* bytes;
    std::uint64_t at = 0;
};

std::size_t ReadMemory(void* opaque, void* buffer, std::size_t size) {
    auto* input = static_cast<MemoryInput*>(opaque);
    const std::uint64_t left =
        input->bytes->size() - std::min<std::uint64_t>(input->at, input->bytes->size());
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(size, left));
    if (count != 0) std::memcpy(buffer, input->bytes->data() + input->at, count);
    input->at += count;
    return count;
}

int SeekMemory(void* opaque, std::uint64_t position) {
    static_cast<MemoryInput*>(opaque)->at = position;
    return 0;
}

// The frames the checked open finds whole from the first on.
std::uint32_t WholeFrames(const Bytes& bytes) {
    MemoryInput input{&bytes};
    const ZambReader reader{&input, ReadMemory, SeekMemory, bytes.size()};
    ZambDecoder* decoder = nullptr;
    if (ZambDecoderOpenChecked(&reader, 0, &decoder) != ZAMBERR_NONE) return 0;
    ZambFrameCheck check{};
    ZambDecoderCheckFrames(decoder, &check, nullptr, 0);
    ZambDecoderClose(decoder);
    return check.WholeFrames;
}

// Track 0's PCM as the library decodes it, every frame in order.
Bytes LibraryPcm(const Bytes& bytes) {
    ZambDecoder* decoder = nullptr;
    Bytes pcm;
    if (ZambDecoderOpenMemory(bytes.data(), bytes.size(), ZAMBOPEN_KEEP_SOUND, &decoder) !=
        ZAMBERR_NONE)
        return pcm;
    std::uint8_t piece[4096];
    while (ZambDecoderNextFrame(decoder) == ZAMBERR_NONE) {
        for (std::size_t got; (got = ZambDecoderReadSound(decoder, 0, piece, sizeof piece)) > 0;)
            pcm.insert(pcm.end(), piece, piece + got);
    }
    ZambDecoderClose(decoder);
    return pcm;
}

// ---- What a run costs ----------------------------------------------------------------

struct Cost {
    double cpuSeconds = 0;
    long sleeps = 0;  // voluntary context switches: each wait that gives the processor up
};

Cost ChildrenCost() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return {seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_nvcsw};
}

Cost CostOfRun(const PlayerFolder& folder, const std::string& args, const std::string& input,
               PlayerRun* run) {
    const Cost before = ChildrenCost();
    *run = folder.Run(args, input);
    const Cost after = ChildrenCost();
    return {after.cpuSeconds - before.cpuSeconds, after.sleeps - before.sleeps};
}

// ---- Held movies sleep --------------------------------------------------------------

// Paused on its first frame, a movie costs what its hold costs: a run held six seconds
// longer than another takes at most 1 % of a core more, and wakes fewer than 500 times more
// every three seconds, at the movie's own rate or as fast as it goes, with sound or without.
TEST(PlayerHold, AHeldMovieSleepsUntilAKey) {
    PlayerFolder folder;
    folder.Write("quiet.zmb", SmallMovie(50, -1000, false));
    folder.Write("sound.zmb", SmallMovie(50, -1000, true));
    constexpr double kLongerSeconds = 6.0;
    for (const char* args : {"-F quiet.zmb", "-F sound.zmb", "sound.zmb"}) {
        SCOPED_TRACE(args);
        PlayerRun brief;
        PlayerRun held;
        const Cost shortHold = CostOfRun(folder, std::string("-S ") + args,
                                         "at 0 ms key Space\nat 200 ms key Escape\n", &brief);
        const Cost longHold = CostOfRun(folder, std::string("-S ") + args,
                                        "at 0 ms key Space\nat 6200 ms key Escape\n", &held);
        ASSERT_EQ(held.Status, 0) << held.Output;
        EXPECT_EQ(held.NumberAfter("Total frames played: "), 1) << held.Output;
        EXPECT_LE(longHold.cpuSeconds - shortHold.cpuSeconds, 0.01 * kLongerSeconds);
        EXPECT_LT(longHold.sleeps - shortHold.sleeps, 500 * kLongerSeconds / 3);
    }
}

// ---- Damaged movies say so and the list goes on -------------------------------------

// A small movie, preloaded by its size or by /P, cut anywhere past its first frame: it plays
// the frames the library finds whole, names the first that is not, and the next movie plays.
TEST(PlayerDamage, ACutPreloadedMoviePlaysItsWholeFramesAndTheListGoesOn) {
    constexpr int kFrames = 12;
    PlayerFolder folder;
    const Bytes good = SmallMovie(kFrames, -1000, true);
    folder.Write("good.zmb", good);
    const std::size_t cuts[] = {1, 40, good.size() / 4, good.size() / 3};
    for (std::size_t cut : cuts) {
        const Bytes shortened(good.begin(), good.end() - static_cast<std::ptrdiff_t>(cut));
        const std::uint32_t whole = WholeFrames(shortened);
        ASSERT_LT(whole, static_cast<std::uint32_t>(kFrames));
        folder.Write("cut.zmb", shortened);
        for (const char* preload : {"-P ", ""}) {
            SCOPED_TRACE(std::string(preload) + std::to_string(cut));
            PlayerRun run = folder.Run(std::string("-S -F ") + preload + "cut.zmb good.zmb");
            EXPECT_EQ(run.Status, 1) << run.Output;
            EXPECT_TRUE(run.Shows("zambply: cut.zmb: frame " + std::to_string(whole + 1) + " of " +
                                  std::to_string(kFrames) + " could not be read"))
                << run.Output;
            EXPECT_FALSE(run.Shows("Error opening file")) << run.Output;
            EXPECT_EQ(run.NumberAfter("Total frames played: "), kFrames) << run.Output;
        }
    }
}

constexpr std::uint32_t kChunk = 400;  // every chunk of the damage movie but one
constexpr std::uint32_t kSmallChunk = 200;
constexpr std::uint32_t kSmallFrame = 2;

// Eight frames of 8-bit sound, delta-coded, the chunk of frame 2 smaller than the others.
encoder::WriteResult SoundDamageMovie() {
    encoder::MovieRecipe recipe = test_movies::NumberedStillsRecipe(8, -1000);
    auto& track = recipe.tracks[0];
    track.present = true;
    track.sampleRate = 11025;
    track.chunkBytes.assign(8, kChunk);
    track.chunkBytes[kSmallFrame] = kSmallChunk;
    for (std::uint32_t i = 0; i < 7 * kChunk + kSmallChunk; ++i)
        track.samples.push_back(static_cast<std::uint8_t>(128 + (i * 37 % 101) - 50));
    encoder::WriteResult written = encoder::WriteMovie(recipe);
    EXPECT_TRUE(written.ok) << written.error;
    return written;
}

// Where track 0's chunk of stored frame FRAME begins in the file.
std::size_t TrackChunkAt(const encoder::WriteResult& movie, std::uint32_t frame) {
    std::size_t at = movie.layout.firstFrameOffset;
    for (std::uint32_t f = 0; f < frame; ++f) at += movie.layout.frameSizes[f];
    if (movie.layout.frameTypes[frame] & ZAMB_FRAME_PALETTE) at += 4 * std::size_t{movie.bytes[at]};
    return at;
}

void SetWord(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// What zmbtool verify says is wrong with the movie: "frame F: REASON", empty when whole.
std::string VerifyFault(const PlayerFolder& folder, const std::string& name) {
    const std::string command =
        "'" ZMBTOOL_PATH "' verify '" + folder.Path() + "/" + name + "' 2>&1";
    std::string said;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char chunk[4096];
        for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
            said.append(chunk, got);
        pclose(pipe);
    }
    const auto at = said.find(": frame ");
    if (at == std::string::npos) return "";
    const auto end = said.find('\n', at);
    return said.substr(at + 2, end == std::string::npos ? std::string::npos : end - at - 2);
}

// Sound chunks that claim too much, whose stream ends early or whose trees are scribbled
// over: the player stops at the frame zmbtool verify names, for the reason it gives, and
// fails the run, whether a device plays the sound or there is none.
TEST(PlayerDamage, DamagedSoundEndsTheMovieAsVerifySays) {
    const encoder::WriteResult movie = SoundDamageMovie();
    ASSERT_EQ(movie.layout.trackMaxBytes[0], kChunk);
    const std::size_t small = TrackChunkAt(movie, kSmallFrame);
    Bytes claimsTooMuch = movie.bytes;
    SetWord(claimsTooMuch, small + 4, kChunk + 4);
    Bytes endsEarly = movie.bytes;
    SetWord(endsEarly, small + 4, kSmallChunk + 60);
    Bytes badTrees = movie.bytes;
    for (std::size_t i = 0; i < 6; ++i) badTrees[TrackChunkAt(movie, 5) + 8 + i] = 0xFF;
    PlayerFolder folder;
    folder.Write("good.zmb", movie.bytes);
    const struct {
        const char* name;
        const Bytes& bytes;
    } cases[] = {{"claims", claimsTooMuch}, {"ends", endsEarly}, {"trees", badTrees}};
    for (const auto& c : cases) {
        folder.Write("damaged.zmb", c.bytes);
        const std::string fault = VerifyFault(folder, "damaged.zmb");
        ASSERT_FALSE(fault.empty()) << c.name;
        const std::uint32_t frame = std::stoul(fault.substr(std::strlen("frame ")));
        const std::string reason = fault.substr(fault.find(": ") + 2);
        for (const char* environment : {"", "ZAMBREL_AUDIO=none"}) {
            SCOPED_TRACE(std::string(c.name) + " " + environment);
            PlayerRun run = folder.Run("-S damaged.zmb good.zmb", "", environment);
            EXPECT_EQ(run.Status, 1) << run.Output;
            EXPECT_TRUE(run.Shows("zambply: damaged.zmb: frame " + std::to_string(frame + 1) +
                                  " of 8 could not be decoded (" + reason + "); stopped there"))
                << fault << "\n"
                << run.Output;
            EXPECT_EQ(run.NumberAfter("Total frames played: "), 8) << run.Output;
        }
    }
    // The whole movie is no damage to either.
    EXPECT_EQ(VerifyFault(folder, "good.zmb"), "");
    EXPECT_EQ(folder.Run("-S good.zmb").Status, 0);
}

// ---- The end of a movie is kept -----------------------------------------------------

// The summary's rate, as printed: "4.0" for "Frame rate obtained: 4.0".
double ObtainedRate(const PlayerRun& run) {
    const std::string label = "Frame rate obtained: ";
    const auto at = run.Output.find(label);
    return at == std::string::npos ? -1 : std::stod(run.Output.substr(at + label.size()));
}

// Each clock-paced frame, the last as well, stays for its period: five frames at four a
// second take 1.25 s, so the summary's rate (cut to one decimal) reads 4.0 from 1.220 s on,
// and a load on the machine can only lower it; a last frame that closed at once read 5.0.
// A longer movie never beats the rate asked by more than half a per cent (60 frames whose
// last closed at once read 61.0 at /F60).
TEST(PlayerEnd, TheLastClockPacedFrameStaysForItsPeriod) {
    PlayerFolder folder;
    folder.Write("five.zmb", SmallMovie(5, -1000, false));
    folder.Write("sixty.zmb", SmallMovie(60, -1000, false));
    PlayerRun five = folder.Run("-S -F4 five.zmb");
    EXPECT_EQ(five.NumberAfter("Total frames played: "), 5) << five.Output;
    EXPECT_LE(ObtainedRate(five), 4.0) << five.Output;
    EXPECT_GE(ObtainedRate(five), 3.8) << five.Output;
    PlayerRun sixty = folder.Run("-S -F60 sixty.zmb");
    EXPECT_LE(ObtainedRate(sixty), 60.3) << sixty.Output;
    EXPECT_GE(ObtainedRate(sixty), 50.0) << sixty.Output;
}

// A 16-bit mono track at 12,345 Hz whose last chunk holds one sample, after chunks of
// `chunkBytes` (none: the lone sample is the whole sound, and a frame of its own).
Bytes OneSampleEndMovie(std::vector<std::uint32_t> chunkBytes) {
    encoder::MovieRecipe recipe =
        test_movies::NumberedStillsRecipe(static_cast<int>(chunkBytes.size()) + 1, -6666);
    auto& track = recipe.tracks[0];
    track.present = true;
    track.sampleRate = 12345;
    track.is16Bit = true;
    chunkBytes.push_back(2);
    track.chunkBytes = chunkBytes;
    std::uint32_t bytes = 0;
    for (std::uint32_t chunk : chunkBytes) bytes += chunk;
    for (std::uint32_t i = 0; i < bytes / 2; ++i) {
        const auto value = static_cast<std::uint16_t>(500 + i % 7000);  // never silence
        track.samples.push_back(static_cast<std::uint8_t>(value));
        track.samples.push_back(static_cast<std::uint8_t>(value >> 8));
    }
    return Written(recipe);
}

// Whether the captured sound is the library's, in order, with nothing but silence (zero
// samples) put in between, to its very last sample.
::testing::AssertionResult HeardWhole(const std::vector<std::int16_t>& captured,
                                      const std::vector<std::int16_t>& library) {
    std::size_t next = 0;
    for (std::size_t i = 0; i < captured.size(); ++i) {
        if (next < library.size() && captured[i] == library[next])
            ++next;
        else if (captured[i] != 0)
            return ::testing::AssertionFailure() << "sample " << i << " is " << captured[i];
    }
    if (next < library.size())
        return ::testing::AssertionFailure()
               << "only " << next << " of " << library.size() << " samples were heard";
    return ::testing::AssertionSuccess();
}

// Wave output and DirectSound alike hand the device the last sample of the track: after
// chunks of an odd number of samples, which leave bytes behind for the next to join, and
// alone, when the DirectSound buffer has not been started for anything before it.
TEST(PlayerEnd, TheLastSampleReachesTheDevice) {
    constexpr std::uint32_t kChunk = 2 * 823;  // a fifteenth of a second, in whole samples
    const struct {
        Bytes movie;
        std::size_t samples;
    } movies[] = {{OneSampleEndMovie({kChunk, kChunk, kChunk, kChunk, kChunk}), 5 * 823 + 1},
                  {OneSampleEndMovie({}), 1}};
    PlayerFolder folder;
    for (const auto& m : movies) {
        folder.Write("end.zmb", m.movie);
        const std::vector<std::int16_t> library = Samples16(LibraryPcm(m.movie));
        ASSERT_EQ(library.size(), m.samples);
        for (const char* driver : {"", "-Z "}) {
            SCOPED_TRACE(driver + std::to_string(m.samples));
            std::filesystem::remove(folder.Path() + "/capture.wav");
            PlayerRun run = folder.Run(std::string("-S ") + driver + "end.zmb", "",
                                       "ZAMBREL_AUDIO_CAPTURE=capture.wav");
            EXPECT_EQ(run.Status, 0) << run.Output;
            EXPECT_TRUE(HeardWhole(Samples16(WavData(folder.Path() + "/capture.wav")), library));
        }
    }
}

// The counting movie as a run heard it, against the library's PCM: every sample in order,
// scaled as the volumes of `tenths` scale it, one after the other (the wave-output word's
// arithmetic; DirectSound's scale steps by hundredths of a decibel, a unit or two away from
// it). Counts the samples heard at the last volume, and names the first sample that fits
// none. Zero samples are silence: the counting movie has none of its own.
struct Scaled {
    std::size_t heard = 0;
    std::size_t atLast = 0;
    std::string wrong;
};
Scaled HeardScaled(const std::vector<std::int16_t>& captured,
                   const std::vector<std::int16_t>& library, const std::vector<int>& tenths) {
    Scaled heard;
    std::size_t level = 0;
    auto fits = [&](std::int16_t sample, std::int16_t truth, std::size_t at) {
        const std::int64_t word = 0xFFFF * tenths[at] / 10;
        return std::abs(sample - truth * word / 0xFFFF) <= (tenths[at] == 10 ? 0 : 2);
    };
    for (std::size_t i = 0; i < captured.size() && heard.wrong.empty(); ++i) {
        if (captured[i] == 0) continue;
        if (heard.heard == library.size()) {
            heard.wrong = "sample " + std::to_string(i) + " follows the library's last";
            break;
        }
        const std::int16_t truth = library[heard.heard];
        while (level < tenths.size() && !fits(captured[i], truth, level)) ++level;
        if (level == tenths.size())
            heard.wrong = "sample " + std::to_string(i) + " is " + std::to_string(captured[i]) +
                          ", the library's " + std::to_string(truth);
        heard.atLast += level + 1 == tenths.size();
        ++heard.heard;
    }
    return heard;
}

// Half volume and mute change what the device is given alike through wave output and
// DirectSound, and under DirectSound (whose buffers a pause drops) the volume set before a
// pause holds after it.
TEST(PlayerSoundKeys, VolumeKeysScaleTheLibrarysSoundThroughEitherDriver) {
    PlayerFolder folder;
    const Bytes movie = CountingSoundMovie(10, -10000);  // a second of sound
    folder.Write("count.zmb", movie);
    const std::vector<std::int16_t> library = Samples16(LibraryPcm(movie));
    ASSERT_EQ(library.size(), kCountingRate);
    const std::string halve =
        "at 100 ms key 9\nat 110 ms key 9\nat 120 ms key 9\nat 130 ms key 9\nat 140 ms key 9\n";
    for (const char* driver : {"", "-Z "}) {
        SCOPED_TRACE(driver);
        auto heard = [&](const std::string& input) {
            std::filesystem::remove(folder.Path() + "/capture.wav");
            PlayerRun run = folder.Run(std::string(driver) + "count.zmb", input,
                                       "ZAMBREL_AUDIO_CAPTURE=capture.wav");
            EXPECT_EQ(run.Status, 0) << run.Output;
            return Samples16(WavData(folder.Path() + "/capture.wav"));
        };
        const Scaled halved = HeardScaled(heard(halve), library, {10, 9, 8, 7, 6, 5});
        EXPECT_EQ(halved.wrong, "");
        EXPECT_EQ(halved.heard, library.size());
        EXPECT_GT(halved.atLast, library.size() * 7 / 10);

        // Muted, nothing is heard from the key on: the samples heard are the first ones.
        const Scaled muted = HeardScaled(heard("at 300 ms key m\n"), library, {10});
        EXPECT_EQ(muted.wrong, "");
        EXPECT_GT(muted.heard, library.size() / 10);
        EXPECT_LT(muted.heard, library.size() * 6 / 10);

        // A pause and its resume may put a chunk back, so the run is judged by its loudest
        // sample: the library's loudest (its last, heard well after the pause), halved.
        const std::vector<std::int16_t> paused =
            heard(halve + "at 300 ms key Space\nat 500 ms key Space\n");
        ASSERT_FALSE(paused.empty());
        const int loudest = *std::max_element(library.begin(), library.end());
        EXPECT_NEAR(*std::max_element(paused.begin(), paused.end()), loudest / 2, 2);
    }
}

}  // namespace
}  // namespace zambrel::testing
