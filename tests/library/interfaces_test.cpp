// SPDX-License-Identifier: MIT
// The embedding interface hands out exactly what the system's own interface decodes: the
// same pictures, palettes and sound, on writer-made movies of every kind, however opened.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "core/movie_names.h"
#include "movie_kinds.h"
#include "sound/driver.h"
#include "sound/seams.h"
#include "sound/track.h"
#include "test_movies.h"
#include "zambrel/decoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// What one frame looked and sounded like.
struct Frame {
    Bytes picture;  // shown rows, palette indices
    Bytes palette;
    bool paletteChanged = false;
    Bytes sound[ZAMB_TRACK_COUNT];
};

// A driver that plays nothing: the test takes each frame's sound out of the rings itself.
void InstallSilentDriver() {
    SoundForgetDriver();
    SoundDriver.SoundOpenTrack = [](SoundTrack*, std::uint32_t) { return true; };
    SoundDriver.SoundCloseTrack = [](SoundTrack*) {};
    SoundDriver.SoundService = [] {};
    SoundDriver.SoundPosition = [](SoundTrack*) { return 0u; };  // never late: no skips
    SoundDriver.SoundReset = [](SoundTrack*) {};
    SoundDriver.SoundPause = [](SoundTrack*) {};
    SoundDriver.SoundResume = [](SoundTrack*) { return true; };
    SoundDriver.SoundVolumePan = [](SoundTrack*, std::uint32_t, std::uint32_t) {};
}

Bytes Drain(SoundTrack* track) {
    Bytes out;
    if (track == nullptr) return out;
    for (std::uint32_t left = RingFillLoad(track); left > 0; --left) {
        out.push_back(*track->RingRead++);
        if (track->RingRead == track->RingEnd) track->RingRead = track->RingStart;
    }
    RingFillStore(track, 0);
    return out;
}

std::string TempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("zambrel_library_" + std::to_string(::getpid()) + "_" + name + ".zmb"))
        .string();
}

// Plays `count` frames (looping past the end as the player does) through ZambOpen.
std::vector<Frame> DecodeWithSystemInterface(const std::string& path, std::uint32_t count) {
    InstallSilentDriver();
    Movie* movie = ZambOpen(path.c_str(), ZAMB_NO_SKIP | ZAMB_TRACK_MASK, 0xFFFFFFFFu);
    EXPECT_NE(movie, nullptr);
    if (movie == nullptr) return {};
    Bytes picture(std::size_t{movie->Width} * movie->Height, 0);
    ZambSetDestination(movie, 0, 0, static_cast<std::int32_t>(movie->Width),
                       static_cast<std::int32_t>(movie->Height), picture.data(), 0);
    std::vector<Frame> frames;
    for (std::uint32_t f = 0; f < count; ++f) {
        if (f != 0) ZambNextFrame(movie);
        Frame frame;
        frame.paletteChanged = movie->PaletteChanged != 0;
        ZambDoFrame(movie);
        frame.picture = picture;
        frame.palette.assign(movie->Palette, movie->Palette + ZAMB_PALETTE_BYTES);
        for (int n = 0; n < ZAMB_TRACK_COUNT; ++n) frame.sound[n] = Drain(movie->Tracks[n]);
        frames.push_back(frame);
    }
    ZambClose(movie);
    SoundForgetDriver();
    return frames;
}

// --- The three ways in -------------------------------------------------------------------

struct ReaderInput {
    const Bytes* bytes;
    std::size_t position = 0;
};

ZambDecoder* Open(int way, const Bytes& bytes, const std::string& path, ReaderInput& input,
                  std::uint32_t flags) {
    ZambDecoder* decoder = nullptr;
    ZambError result = ZAMBERR_NONE;
    if (way == 0) {
        result = ZambDecoderOpenMemory(bytes.data(), bytes.size(), flags, &decoder);
    } else if (way == 1) {
        result = ZambDecoderOpenFile(path.c_str(), flags, &decoder);
    } else {
        ZambReader reader{};
        reader.Opaque = &input;
        reader.Read = [](void* opaque, void* buffer, std::size_t size) -> std::size_t {
            auto* in = static_cast<ReaderInput*>(opaque);
            const std::size_t left = in->bytes->size() - in->position;
            const std::size_t count = size < left ? size : left;
            std::memcpy(buffer, in->bytes->data() + in->position, count);
            in->position += count;
            return count;
        };
        reader.Seek = [](void* opaque, std::uint64_t position) {
            auto* in = static_cast<ReaderInput*>(opaque);
            if (position > in->bytes->size()) return -1;
            in->position = static_cast<std::size_t>(position);
            return 0;
        };
        reader.Size = bytes.size();
        result = ZambDecoderOpenReader(&reader, flags, &decoder);
    }
    EXPECT_EQ(result, ZAMBERR_NONE) << ZambErrorString(result);
    return decoder;
}

// --- Checks of one frame ------------------------------------------------------------------

void ExpectConvertedPictures(ZambDecoder* decoder, const Frame& frame, std::uint32_t width,
                             std::uint32_t height) {
    const std::size_t pixels = std::size_t{width} * height;
    for (std::uint32_t format : {ZAMBPIX_RGBA32, ZAMBPIX_BGRA32, ZAMBPIX_RGB24, ZAMBPIX_RGB565}) {
        const std::size_t size = format == ZAMBPIX_RGB24 ? 3 : format == ZAMBPIX_RGB565 ? 2 : 4;
        const std::size_t pitch = width * size + 5;  // rows with a gap after them
        Bytes out(pitch * height, 0xEE);
        ASSERT_EQ(ZambDecoderGetPicture(decoder, format, out.data(), pitch, out.size(), 0),
                  ZAMBERR_NONE);
        for (std::size_t i = 0; i < pixels; ++i) {
            const std::uint8_t* rgb = &frame.palette[3 * frame.picture[i]];
            const std::uint8_t* got = &out[(i / width) * pitch + (i % width) * size];
            Bytes want;
            if (format == ZAMBPIX_RGBA32) want = {rgb[0], rgb[1], rgb[2], 255};
            if (format == ZAMBPIX_BGRA32) want = {rgb[2], rgb[1], rgb[0], 255};
            if (format == ZAMBPIX_RGB24) want = {rgb[0], rgb[1], rgb[2]};
            if (format == ZAMBPIX_RGB565) {
                const unsigned v = (rgb[0] >> 3) << 11 | (rgb[1] >> 2) << 5 | rgb[2] >> 3;
                std::uint16_t word = static_cast<std::uint16_t>(v);
                want.resize(2);
                std::memcpy(want.data(), &word, 2);
            }
            ASSERT_EQ(Bytes(got, got + size), want) << "format " << format << " pixel " << i;
            if (i % width == width - 1) {
                ASSERT_EQ(got[size], 0xEE) << "gap after row";
            }
        }
    }
}

// Pixels outside the changed rectangles are the previous frame's.
void ExpectChangesInsideRects(ZambDecoder* decoder, const Frame& previous, const Frame& frame,
                              std::uint32_t width, std::uint32_t height) {
    std::vector<ZambRect> rects(ZambDecoderGetChangedRects(decoder, nullptr, 0));
    ZambDecoderGetChangedRects(decoder, rects.data(), static_cast<std::uint32_t>(rects.size()));
    std::vector<bool> covered(std::size_t{width} * height, false);
    for (const ZambRect& r : rects) {
        ASSERT_TRUE(r.X >= 0 && r.Y >= 0 && r.W > 0 && r.H > 0);
        ASSERT_LE(std::uint32_t(r.X + r.W), width);
        ASSERT_LE(std::uint32_t(r.Y + r.H), height);
        for (int y = r.Y; y < r.Y + r.H; ++y)
            for (int x = r.X; x < r.X + r.W; ++x) covered[std::size_t(y) * width + x] = true;
    }
    for (std::size_t i = 0; i < covered.size(); ++i) {
        if (!covered[i]) {
            ASSERT_EQ(frame.picture[i], previous.picture[i]) << "pixel " << i;
        }
    }
}

Bytes FrameSound(ZambDecoder* decoder, int track) {
    std::size_t bytes = 0;
    if (ZambDecoderFrameSound(decoder, track, nullptr, 0, &bytes) == ZAMBERR_NO_TRACK) return {};
    Bytes sound(bytes);
    EXPECT_EQ(ZambDecoderFrameSound(decoder, track, sound.data(), sound.size(), &bytes),
              ZAMBERR_NONE);
    return sound;
}

Bytes Picture(ZambDecoder* decoder, std::uint32_t width, std::uint32_t height) {
    Bytes picture(std::size_t{width} * height);
    EXPECT_EQ(
        ZambDecoderGetPicture(decoder, ZAMBPIX_INDEX8, picture.data(), width, picture.size(), 0),
        ZAMBERR_NONE);
    return picture;
}

Bytes Palette(ZambDecoder* decoder) {
    Bytes palette(ZAMB_PALETTE_BYTES);
    ZambDecoderGetPalette(decoder, palette.data());
    return palette;
}

std::uint32_t SampleFrameBytes(const ZambTrackInfo& track) {
    return track.Channels * track.BitsPerSample / 8;
}

// Sample frames the chunks of frames 0 to `frame` - 1 hold: where frame's chunk starts.
std::uint64_t SoundBefore(const std::vector<Frame>& frames, std::uint32_t frame, int n,
                          const ZambTrackInfo& track) {
    std::uint64_t bytes = 0;
    for (std::uint32_t f = 0; f < frame; ++f) bytes += frames[f].sound[n].size();
    return bytes / SampleFrameBytes(track);
}

// What a seek to `target` queues: the sound of frames 0 to target, from the sample due at
// the target's time on (from the target's own chunk in a movie without a time line).
Bytes SoundAfterSeek(const std::vector<Frame>& frames, std::uint32_t target, int n,
                     const ZambMovieInfo& info, std::uint64_t* due) {
    const ZambTrackInfo& track = info.Tracks[n];
    Bytes all;
    for (std::uint32_t f = 0; f <= target; ++f)
        all.insert(all.end(), frames[f].sound[n].begin(), frames[f].sound[n].end());
    *due = info.FrameDurationNum == 0 ? SoundBefore(frames, target, n, track)
                                      : std::uint64_t{target} * info.FrameDurationNum *
                                            track.SampleRate / info.FrameDurationDen;
    const std::size_t from = std::min<std::size_t>(*due * SampleFrameBytes(track), all.size());
    return Bytes(all.begin() + static_cast<std::ptrdiff_t>(from), all.end());
}

void ExpectSoundAfterSeek(ZambDecoder* decoder, const std::vector<Frame>& frames,
                          std::uint32_t target, const ZambMovieInfo& info) {
    for (int n = 0; n < ZAMB_TRACK_COUNT; ++n) {
        SCOPED_TRACE("track " + std::to_string(n));
        if (!info.Tracks[n].Decoded) continue;
        std::uint64_t due = 0;
        const Bytes want = SoundAfterSeek(frames, target, n, info, &due);
        ZambSoundPosition position{};
        ASSERT_EQ(ZambDecoderGetSoundPosition(decoder, n, &position, sizeof position),
                  ZAMBERR_NONE);
        EXPECT_EQ(position.FrameSound, SoundBefore(frames, target, n, info.Tracks[n]));
        EXPECT_EQ(position.Queue, due);
        Bytes queued(ZambDecoderSoundQueued(decoder, n));
        queued.resize(ZambDecoderReadSound(decoder, n, queued.data(), queued.size()));
        EXPECT_EQ(queued.size(), want.size()) << "due " << due;
        EXPECT_EQ(queued, want);
    }
}

TEST(Interfaces, HandOutTheSamePicturesAndSoundForEveryKindOfMovie) {
    int way = 0;
    for (const library_test::MovieKind& kind : library_test::AllMovieKinds()) {
        SCOPED_TRACE(kind.name);
        const Bytes bytes = library_test::Write(kind.recipe);
        const std::string path = TempPath(std::to_string(way));
        {
            std::FILE* file = std::fopen(path.c_str(), "wb");
            ASSERT_NE(file, nullptr);
            std::fwrite(bytes.data(), 1, bytes.size(), file);
            std::fclose(file);
        }
        const auto count = static_cast<std::uint32_t>(kind.recipe.pictures.size());
        const std::vector<Frame> expected = DecodeWithSystemInterface(path, count + 2);
        ASSERT_EQ(expected.size(), count + 2);

        ReaderInput input{&bytes};
        ZambDecoder* decoder = Open(way % 3, bytes, path, input, ZAMBOPEN_LOOP);
        ASSERT_NE(decoder, nullptr);
        ZambMovieInfo info{};
        ASSERT_EQ(ZambDecoderGetInfo(decoder, &info, sizeof info), ZAMBERR_NONE);
        EXPECT_EQ(info.FrameCount, count);
        const std::uint32_t width = info.Width, height = info.Height;
        Bytes tracked(std::size_t{width} * height * 4, 0);  // kept up to date by changes only
        Bytes queued[ZAMB_TRACK_COUNT];
        for (std::uint32_t f = 0; f < count + 2; ++f) {
            SCOPED_TRACE("frame " + std::to_string(f));
            ASSERT_EQ(ZambDecoderNextFrame(decoder), ZAMBERR_NONE);
            const Frame& want = expected[f];
            Frame got;
            got.picture = Picture(decoder, width, height);
            got.palette = Palette(decoder);
            ASSERT_EQ(got.picture, want.picture);
            ASSERT_EQ(got.palette, want.palette);
            ZambFrameInfo frameInfo{};
            ZambDecoderGetFrameInfo(decoder, &frameInfo, sizeof frameInfo);
            EXPECT_EQ(frameInfo.Number, f < count ? f : f - count);
            if (f != 0) {
                EXPECT_EQ(frameInfo.PaletteChanged != 0, want.paletteChanged);
            }
            for (int n = 0; n < ZAMB_TRACK_COUNT; ++n) {
                ASSERT_EQ(FrameSound(decoder, n), want.sound[n]) << "track " << n;
                EXPECT_EQ(frameInfo.SoundBytes[n], want.sound[n].size());
                ZambSoundPosition position{};
                if (info.Tracks[n].Decoded) {
                    ZambDecoderGetSoundPosition(decoder, n, &position, sizeof position);
                    EXPECT_EQ(position.FrameSound, SoundBefore(expected, f, n, info.Tracks[n]));
                    EXPECT_EQ(position.Queue, position.FrameSound) << "the queue was emptied";
                }
                Bytes taken(want.sound[n].size() + 16);
                taken.resize(ZambDecoderReadSound(decoder, n, taken.data(), taken.size()));
                queued[n].insert(queued[n].end(), taken.begin(), taken.end());
            }
            ExpectConvertedPictures(decoder, got, width, height);
            if (f != 0) ExpectChangesInsideRects(decoder, expected[f - 1], got, width, height);
            ASSERT_EQ(ZambDecoderGetPicture(decoder, ZAMBPIX_RGBA32, tracked.data(), width * 4,
                                            tracked.size(), ZAMBPIC_CHANGED_ONLY),
                      ZAMBERR_NONE);
            Bytes whole(tracked.size());
            ZambDecoderGetPicture(decoder, ZAMBPIX_RGBA32, whole.data(), width * 4, whole.size(),
                                  0);
            ASSERT_EQ(tracked, whole) << "the changed rectangles missed a change";
        }
        for (int n = 0; n < ZAMB_TRACK_COUNT; ++n) {
            Bytes all;
            for (const Frame& frame : expected)
                all.insert(all.end(), frame.sound[n].begin(), frame.sound[n].end());
            EXPECT_EQ(queued[n], all) << "queued sound of track " << n;
            // The comparison means something only where the movie has sound.
            EXPECT_EQ(all.empty(), !kind.recipe.tracks[n].present) << "track " << n;
        }

        // Seeks land on the frame a plain decode reaches, backwards and forwards.
        for (std::uint32_t target : {count / 2, 0u, count - 1, count / 3, count / 3 + 1}) {
            SCOPED_TRACE("seek to " + std::to_string(target));
            ASSERT_EQ(ZambDecoderSeek(decoder, target), ZAMBERR_NONE);
            EXPECT_EQ(Picture(decoder, width, height), expected[target].picture);
            EXPECT_EQ(Palette(decoder), expected[target].palette);
            for (int n = 0; n < ZAMB_TRACK_COUNT; ++n)
                EXPECT_EQ(FrameSound(decoder, n), expected[target].sound[n]);
            ExpectSoundAfterSeek(decoder, expected, target, info);
        }
        EXPECT_EQ(ZambDecoderSeek(decoder, count), ZAMBERR_NO_FRAME);
        ZambDecoderClose(decoder);

        // Without looping the movie ends after its last frame, and stays there.
        decoder = Open(way % 3, bytes, path, input, 0);
        for (std::uint32_t f = 0; f < count; ++f) ASSERT_EQ(ZambDecoderNextFrame(decoder), 0);
        EXPECT_EQ(ZambDecoderNextFrame(decoder), ZAMBERR_END);
        EXPECT_EQ(Picture(decoder, width, height), expected[count - 1].picture);
        ZambDecoderClose(decoder);
        std::filesystem::remove(path);
        ++way;
    }
}

// Every frame through one handle decoded from frame 0 on, without an index.
std::vector<Frame> DecodeLinearly(const Bytes& bytes, std::uint32_t count) {
    ZambDecoder* decoder = nullptr;
    EXPECT_EQ(ZambDecoderOpenMemory(bytes.data(), bytes.size(), 0, &decoder), ZAMBERR_NONE);
    ZambDecoderSetIndexBudget(decoder, 0);
    ZambMovieInfo info{};
    ZambDecoderGetInfo(decoder, &info, sizeof info);
    std::vector<Frame> frames(count);
    for (Frame& frame : frames) {
        EXPECT_EQ(ZambDecoderNextFrame(decoder), ZAMBERR_NONE);
        frame.picture = Picture(decoder, info.Width, info.Height);
        frame.palette = Palette(decoder);
        for (int n = 0; n < ZAMB_TRACK_COUNT; ++n) frame.sound[n] = FrameSound(decoder, n);
    }
    ZambDecoderClose(decoder);
    return frames;
}

// Movies whose sound leads their pictures, so that a seek's sound lies in earlier chunks.
std::vector<library_test::MovieKind> LeadingSoundKinds() {
    std::vector<library_test::MovieKind> kinds;
    for (library_test::MovieKind kind : library_test::AllMovieKinds()) {
        const bool hasSound = std::any_of(kind.recipe.tracks.begin(), kind.recipe.tracks.end(),
                                          [](const auto& track) { return track.present; });
        if (!hasSound || kind.recipe.frameRate == 0) continue;
        kind.recipe.soundLead = static_cast<std::int32_t>(150 + 100 * kinds.size());
        kinds.push_back(kind);
    }
    // Long enough for snapshots that are packed, and spaced by what they cost.
    library_test::MovieKind longer{"long enough to pack", test_movies::MixedRecipe(64, 48, 70, 9)};
    longer.recipe.frameRate = 40;
    longer.recipe.soundLead = 300;
    longer.recipe.tracks[0] = kinds.front().recipe.tracks[0];
    kinds.push_back(longer);
    return kinds;
}

// Seeks through the index land on what decoding from frame 0 gives, with the sound due at
// the target's time, for budgets from a raw snapshot every frame to one every few, and for
// one that holds too few raw pictures, so that they are packed; the index stays within its
// budget.
TEST(SeekIndex, SeeksGiveWhatDecodingFromTheStartGives) {
    std::mt19937 random(11);
    for (const library_test::MovieKind& kind : LeadingSoundKinds()) {
        SCOPED_TRACE(kind.name);
        const Bytes bytes = library_test::Write(kind.recipe);
        const auto count = static_cast<std::uint32_t>(kind.recipe.pictures.size());
        const std::vector<Frame> expected = DecodeLinearly(bytes, count);
        // Spacing 0: two raw pictures' worth for the whole movie, which packing stretches.
        for (std::uint32_t spacing : {1u, 3u, 0u}) {
            if (spacing == 0 && count < 40) continue;
            ZambDecoder* decoder = nullptr;
            ASSERT_EQ(ZambDecoderOpenMemory(bytes.data(), bytes.size(), 0, &decoder), 0);
            ZambMovieInfo info{};
            ZambDecoderGetInfo(decoder, &info, sizeof info);
            const std::size_t snapshot = std::size_t{info.Width} * info.Height + 768 + 16;
            const std::size_t budget =
                spacing == 0 ? 2 * snapshot + 64 : snapshot * ((count + spacing - 1) / spacing) + 8;
            ZambDecoderSetIndexBudget(decoder, budget);
            ASSERT_EQ(ZambDecoderBuildIndex(decoder), ZAMBERR_NONE);
            EXPECT_GT(ZambDecoderIndexBytes(decoder), 0u);
            EXPECT_LE(ZambDecoderIndexBytes(decoder), budget);
            std::vector<std::uint32_t> targets(count);
            for (std::uint32_t f = 0; f < count; ++f) targets[f] = f;
            std::shuffle(targets.begin(), targets.end(), random);
            for (std::uint32_t target : targets) {
                SCOPED_TRACE("seek to " + std::to_string(target) + ", spacing " +
                             std::to_string(spacing));
                ASSERT_EQ(ZambDecoderSeek(decoder, target), ZAMBERR_NONE);
                ASSERT_EQ(Picture(decoder, info.Width, info.Height), expected[target].picture);
                ASSERT_EQ(Palette(decoder), expected[target].palette);
                for (int n = 0; n < ZAMB_TRACK_COUNT; ++n)
                    EXPECT_EQ(FrameSound(decoder, n), expected[target].sound[n]);
                ExpectSoundAfterSeek(decoder, expected, target, info);
                // Decoding on after the seek gives the next frame, its sound queued whole.
                if (target + 1 < count && target % 4 == 0) {
                    ASSERT_EQ(ZambDecoderNextFrame(decoder), ZAMBERR_NONE);
                    EXPECT_EQ(Picture(decoder, info.Width, info.Height),
                              expected[target + 1].picture);
                }
            }
            ZambDecoderClose(decoder);
        }
    }
}

// A program that only plays forward keeps no index, however long it plays; its first seek
// asks for one, and from then on the index fills as frames are decoded.
TEST(SeekIndex, IsKeptOnlyOnceAProgramSeeks) {
    const library_test::MovieKind kind = LeadingSoundKinds().front();
    const Bytes bytes = library_test::Write(kind.recipe);
    const auto count = static_cast<std::uint32_t>(kind.recipe.pictures.size());
    ASSERT_GE(count, 4u);
    ZambDecoder* decoder = nullptr;
    ASSERT_EQ(ZambDecoderOpenMemory(bytes.data(), bytes.size(), ZAMBOPEN_LOOP, &decoder), 0);
    for (std::uint32_t f = 0; f < 2 * count; ++f) ASSERT_EQ(ZambDecoderNextFrame(decoder), 0);
    EXPECT_EQ(ZambDecoderIndexBytes(decoder), 0u) << "an index nobody asked for";
    ASSERT_EQ(ZambDecoderSeek(decoder, count - 1), ZAMBERR_NONE);
    EXPECT_GT(ZambDecoderIndexBytes(decoder), 0u) << "the seek's way to its target";
    ZambDecoderClose(decoder);
}

// Pictures that pack small at first and not at all later: the index, spaced for the first
// ones, must give up snapshots to take later ones, stay within its budget throughout, and
// still seek exactly.
TEST(SeekIndex, APackedIndexThinsItselfWithinItsBudget) {
    zambrel::encoder::MovieRecipe recipe;
    recipe.width = 64;
    recipe.height = 48;
    recipe.frameRate = 40;
    std::mt19937 random(21);
    zambrel::encoder::Picture picture;
    for (int i = 0; i < 768; ++i)
        picture.palette[i] = zambrel::encoder::WidenLevel(static_cast<std::uint8_t>(i * 7 & 63));
    constexpr std::uint32_t kFrames = 120;
    for (std::uint32_t f = 0; f < kFrames; ++f) {
        picture.pixels.assign(64 * 48, 9);
        for (std::size_t i = 0; i < picture.pixels.size(); ++i)
            if (f >= 40 || (i % 64 == f % 64))
                picture.pixels[i] = static_cast<std::uint8_t>(random());
        recipe.pictures.push_back(picture);
    }
    const Bytes bytes = library_test::Write(recipe);
    const std::vector<Frame> expected = DecodeLinearly(bytes, kFrames);
    ZambDecoder* decoder = nullptr;
    ASSERT_EQ(ZambDecoderOpenMemory(bytes.data(), bytes.size(), 0, &decoder), 0);
    // Room for the working picture and about three raw ones.
    const std::size_t budget = 4 * (64 * 48 + 768) + 512;
    ZambDecoderSetIndexBudget(decoder, budget);
    for (std::uint32_t f = 0; f < kFrames; ++f) {
        ASSERT_EQ(ZambDecoderNextFrame(decoder), ZAMBERR_NONE);
        ASSERT_LE(ZambDecoderIndexBytes(decoder), budget) << "after frame " << f;
    }
    EXPECT_GT(ZambDecoderIndexBytes(decoder), 64u * 48);
    std::vector<std::uint32_t> targets(kFrames);
    for (std::uint32_t f = 0; f < kFrames; ++f) targets[f] = f;
    std::shuffle(targets.begin(), targets.end(), random);
    for (std::uint32_t target : targets) {
        ASSERT_EQ(ZambDecoderSeek(decoder, target), ZAMBERR_NONE);
        ASSERT_EQ(Picture(decoder, 64, 48), expected[target].picture) << "frame " << target;
        ASSERT_EQ(Palette(decoder), expected[target].palette) << "frame " << target;
    }
    ZambDecoderClose(decoder);
}

// A movie cut short: the frame before the damage stays current, every later step fails
// the same way, and the failure says which frame and where; a seek before it still works.
TEST(SeekIndex, ACutMovieKeepsTheFrameBeforeTheDamageAndSaysWhere) {
    const library_test::MovieKind kind = LeadingSoundKinds().front();
    const Bytes whole = library_test::Write(kind.recipe);
    const auto count = static_cast<std::uint32_t>(kind.recipe.pictures.size());
    const std::vector<Frame> expected = DecodeLinearly(whole, count);
    const Bytes cut(whole.begin(),
                    whole.begin() + static_cast<std::ptrdiff_t>(whole.size() * 2 / 3));
    ZambDecoder* decoder = nullptr;
    ASSERT_EQ(ZambDecoderOpenMemory(cut.data(), cut.size(), 0, &decoder), ZAMBERR_NONE);
    ZambMovieInfo info{};
    ZambDecoderGetInfo(decoder, &info, sizeof info);
    std::uint32_t decoded = 0;
    while (ZambDecoderNextFrame(decoder) == ZAMBERR_NONE) ++decoded;
    ASSERT_GT(decoded, 0u);
    ASSERT_LT(decoded, count);
    ZambErrorInfo error{};
    ASSERT_EQ(ZambDecoderGetLastError(decoder, &error, sizeof error), ZAMBERR_NONE);
    EXPECT_EQ(error.Code, ZAMBERR_READ_FAILED);
    EXPECT_EQ(error.Frame, decoded);
    EXPECT_LT(error.Offset, cut.size());
    EXPECT_NE(std::string(error.Reason)
                  .find("frame " + std::to_string(decoded) + " of " + std::to_string(count)),
              std::string::npos)
        << error.Reason;
    EXPECT_NE(std::string(error.Reason).find("past the end"), std::string::npos) << error.Reason;
    ZambFrameInfo frame{};
    ASSERT_EQ(ZambDecoderGetFrameInfo(decoder, &frame, sizeof frame), ZAMBERR_NONE);
    EXPECT_EQ(frame.Number, decoded - 1);
    EXPECT_EQ(Picture(decoder, info.Width, info.Height), expected[decoded - 1].picture);
    EXPECT_EQ(Palette(decoder), expected[decoded - 1].palette);
    EXPECT_EQ(ZambDecoderNextFrame(decoder), ZAMBERR_READ_FAILED);
    EXPECT_EQ(ZambDecoderSeek(decoder, decoded), ZAMBERR_READ_FAILED);
    EXPECT_EQ(Picture(decoder, info.Width, info.Height), expected[decoded - 1].picture);
    ASSERT_EQ(ZambDecoderSeek(decoder, decoded / 2), ZAMBERR_NONE);
    EXPECT_EQ(Picture(decoder, info.Width, info.Height), expected[decoded / 2].picture);
    ZambDecoderClose(decoder);
}

// Every period code's duration, exact: milliseconds over 1000 or hundredths over 100000.
TEST(SeekIndex, FrameDurationsAreExactForEveryPeriodCode) {
    for (std::int32_t code : {66, -6666, 0x7FFFFFFF, 42949673, -0x7FFFFFFF, 1}) {
        zambrel::encoder::MovieRecipe recipe = LeadingSoundKinds().front().recipe;
        recipe.frameRate = code;
        for (auto& track : recipe.tracks) track.present = false;
        recipe.pictures.resize(2);
        const Bytes bytes = library_test::Write(recipe);
        ZambDecoder* decoder = nullptr;
        ASSERT_EQ(ZambDecoderOpenMemory(bytes.data(), bytes.size(), 0, &decoder), 0) << code;
        ZambMovieInfo info{};
        ZambDecoderGetInfo(decoder, &info, sizeof info);
        const double seconds = code > 0 ? code / 1000.0 : -static_cast<double>(code) / 100000.0;
        EXPECT_DOUBLE_EQ(static_cast<double>(info.FrameDurationNum) / info.FrameDurationDen,
                         seconds)
            << code;
        ZambDecoderClose(decoder);
    }
}

// Sound nobody takes: a queue drops its oldest and counts what it dropped, or with
// ZAMBOPEN_KEEP_SOUND keeps all of it, in order.
TEST(SeekIndex, QueuesCountTheSoundTheyDropOrKeepItAll) {
    zambrel::encoder::MovieRecipe recipe;
    recipe.width = recipe.height = 16;
    recipe.frameRate = 66;
    for (int f = 0; f < 180; ++f) {
        zambrel::encoder::Picture picture;
        picture.pixels.assign(16 * 16, static_cast<std::uint8_t>(f));
        recipe.pictures.push_back(picture);
    }
    auto& track = recipe.tracks[0];
    track.present = true;
    track.sampleRate = 22050;
    for (std::uint32_t i = 0; i < 22050u * 12; ++i)
        track.samples.push_back(static_cast<std::uint8_t>(i * 13 >> 3));
    const Bytes bytes = library_test::Write(recipe);
    for (std::uint32_t flags : {0u, std::uint32_t{ZAMBOPEN_KEEP_SOUND}}) {
        SCOPED_TRACE(flags);
        ZambDecoder* decoder = nullptr;
        ASSERT_EQ(ZambDecoderOpenMemory(bytes.data(), bytes.size(), flags, &decoder), 0);
        Bytes all;
        while (ZambDecoderNextFrame(decoder) == ZAMBERR_NONE) {
            const Bytes chunk = FrameSound(decoder, 0);
            all.insert(all.end(), chunk.begin(), chunk.end());
        }
        ZambSoundPosition position{};
        ASSERT_EQ(ZambDecoderGetSoundPosition(decoder, 0, &position, sizeof position), 0);
        Bytes queued(ZambDecoderSoundQueued(decoder, 0));
        queued.resize(ZambDecoderReadSound(decoder, 0, queued.data(), queued.size()));
        EXPECT_EQ(position.DroppedBytes + queued.size(), all.size());
        EXPECT_EQ(position.Queue, position.DroppedBytes) << "8-bit mono: a byte a sample frame";
        EXPECT_TRUE(std::equal(queued.begin(), queued.end(),
                               all.end() - static_cast<std::ptrdiff_t>(queued.size())));
        if (flags == ZAMBOPEN_KEEP_SOUND)
            EXPECT_EQ(position.DroppedBytes, 0u);
        else
            EXPECT_GT(position.DroppedBytes, 0u);
        ZambDecoderClose(decoder);
    }
}

}  // namespace
