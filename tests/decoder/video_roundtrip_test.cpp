// SPDX-License-Identifier: MIT
// Writer-made movies decoded back frame by frame: every writer option, every destination
// format and scaling, both stream forms, colour remaps and damaged chunks.
#include <gtest/gtest.h>

#include <cstring>

#include "core/mmx.h"
#include "decoder/destination.h"
#include "decoder/video.h"
#include "video_support.h"
#include "zambrel/blit.h"

namespace video_test {
namespace {

using zambrel::encoder::EscapeUse;
using zambrel::encoder::TreeShape;

struct NamedRecipe {
    const char* name;
    MovieRecipe recipe;
};

std::vector<NamedRecipe> Corpus() {
    std::vector<NamedRecipe> corpus;
    corpus.push_back({"plain", MixedRecipe(64, 48, 5, 1)});
    corpus.push_back({"tiny", MixedRecipe(4, 4, 3, 2)});
    corpus.push_back({"narrow", MixedRecipe(36, 20, 4, 3)});
    MovieRecipe s = MixedRecipe(68, 36, 4, 4);
    s.ring = true;
    corpus.push_back({"ring", s});
    s = MixedRecipe(40, 24, 4, 5);
    s.stream.treeShape = TreeShape::Lopsided;
    corpus.push_back({"lopsided", s});
    s = MixedRecipe(40, 24, 4, 6);
    s.stream.escapes = EscapeUse::Never;
    corpus.push_back({"no escapes", s});
    s = MixedRecipe(40, 24, 3, 7);
    s.stream.fullBlocksOnly = true;
    corpus.push_back({"full only", s});
    s = MixedRecipe(40, 24, 3, 8);
    s.stream.noSkip = true;
    s.stream.overlongLastRun = true;
    s.stream.paletteEveryFrame = true;
    corpus.push_back({"no skip, overlong, palettes", s});
    s = MixedRecipe(48, 16, 4, 9);
    s.interlaced = true;
    corpus.push_back({"interlaced", s});
    s = MixedRecipe(48, 16, 4, 10);
    s.doubled = true;
    s.ring = true;
    corpus.push_back({"doubled ring", s});
    corpus.push_back({"many colours", test_movies::ManyColoursRecipe(256, 96, 2, 11)});
    return corpus;
}

std::vector<Target> Targets() {
    std::vector<Target> targets(6);
    targets[1].bottomUp = true;
    targets[2].format = ZAMBBLIT_RGB565;
    targets[3].format = ZAMBBLIT_RGB555;
    targets[3].bottomUp = true;
    targets[4].left = 12;
    targets[4].top = 5;
    targets[4].extraPitch = 6;
    targets[4].extraRows = 3;
    targets[5] = targets[4];
    targets[5].format = ZAMBBLIT_RGB565;
    return targets;
}

// Restores the vector-path choice a test forces.
struct ForcePath {
    std::uint32_t saved = MmxUse;
    explicit ForcePath(bool wide) { MmxUse = wide ? 2 : 1; }
    ~ForcePath() { MmxUse = saved; }
};

// Plays frames through the looping order and checks each against its picture.
// A 16-bit destination keeps the colours a skipped block was painted with, so a palette
// change shows only in repainted blocks; those movies are checked with one palette.
MovieRecipe ForTarget(const MovieRecipe& recipe, const Target& target) {
    MovieRecipe copy = recipe;
    if (target.format != 0) {
        for (Picture& picture : copy.pictures) picture.palette = recipe.pictures[0].palette;
    }
    return copy;
}

void ExpectRoundTrip(const NamedRecipe& named, const Target& target, std::uint32_t scale,
                     bool wide) {
    const MovieRecipe recipe = ForTarget(named.recipe, target);
    ForcePath path(wide);
    const auto bytes = WriteBytes(recipe);
    Movie* movie = OpenBytes(bytes, scale);
    ASSERT_NE(movie, nullptr);
    GuardedBuffer buffer = Attach(movie, target);
    ASSERT_NE(movie->Dest, nullptr);
    const std::size_t played = recipe.pictures.size() * 2 + 1;
    for (std::size_t f = 0; f < played; ++f) {
        const Picture& picture = recipe.pictures[PictureOfPlayedFrame(recipe, f)];
        ZambDoFrame(movie);
        ASSERT_EQ(std::memcmp(movie->Palette, picture.palette.data(), 768), 0)
            << named.name << " frame " << f;
        ASSERT_EQ(CountWrongPixels(buffer, movie, target, picture, recipe.width, recipe.height), 0)
            << named.name << " frame " << f << " format " << target.format << " bottom-up "
            << target.bottomUp << " scale " << scale << " wide " << wide;
        ZambNextFrame(movie);
    }
    EXPECT_TRUE(buffer.GuardsIntact()) << named.name;
    ZambClose(movie);
}

TEST(RoundTrip, EveryWriterOptionInEveryDestination) {
    for (const NamedRecipe& named : Corpus()) {
        for (const Target& target : Targets()) {
            for (bool wide : {false, true}) ExpectRoundTrip(named, target, 0, wide);
        }
    }
}

TEST(RoundTrip, EveryHeightScaling) {
    const std::vector<NamedRecipe> corpus = Corpus();
    for (std::uint32_t scale : {std::uint32_t{ZAMB_INTERLACE}, std::uint32_t{ZAMB_DOUBLE},
                                std::uint32_t{ZAMB_NO_SCALE}}) {
        for (const NamedRecipe& named : {corpus[0], corpus[3], corpus[8], corpus[9]}) {
            for (const Target& target : Targets()) ExpectRoundTrip(named, target, scale, true);
        }
    }
}

// Decodes every frame and keeps the pixels and change maps.
std::vector<std::uint8_t> DecodeAll(const std::vector<std::uint8_t>& bytes, bool wide) {
    ForcePath path(wide);
    Movie* movie = OpenBytes(bytes);
    GuardedBuffer buffer = Attach(movie, Target{});
    std::vector<std::uint8_t> out;
    const std::uint32_t mapBytes = movie->DestSize - sizeof(Destination);
    for (std::uint32_t f = 0; f < movie->FrameCount; ++f) {
        ZambDoFrame(movie);
        out.insert(out.end(), buffer.bytes.begin(), buffer.bytes.end());
        const std::uint8_t* map = ChangeMapOf(movie->Dest);
        out.insert(out.end(), map, map + mapBytes);
        ZambNextFrame(movie);
    }
    ZambClose(movie);
    return out;
}

TEST(StreamForms, PlainAndWideGiveTheSamePixelsAndMaps) {
    for (const NamedRecipe& named : Corpus()) {
        const auto bytes = WriteBytes(named.recipe);
        EXPECT_EQ(DecodeAll(bytes, false), DecodeAll(bytes, true)) << named.name;
    }
}

TEST(Remap, OwnPaletteIsTheIdentityAndRemapsReplaceEachOther) {
    const MovieRecipe recipe = MixedRecipe(32, 16, 1, 11);
    const auto bytes = WriteBytes(recipe);
    auto decode = [&](const std::vector<std::vector<std::uint8_t>>& remaps) {
        Movie* movie = OpenBytes(bytes);
        GuardedBuffer buffer = Attach(movie, Target{});
        for (const auto& palette : remaps) ZambRemapColours(movie, palette.data(), 256, 0);
        ZambDoFrame(movie);
        std::vector<std::uint8_t> pixels(buffer.Start(), buffer.Start() + 32 * 16);
        ZambClose(movie);
        return pixels;
    };
    const std::vector<std::uint8_t> own(recipe.pictures[0].palette.begin(),
                                        recipe.pictures[0].palette.end());
    EXPECT_EQ(decode({own}), recipe.pictures[0].pixels);
    // A palette with entries reversed: each colour is found at 255 - i.
    std::vector<std::uint8_t> reversed(768);
    for (int i = 0; i < 256; ++i) std::memcpy(&reversed[3 * (255 - i)], &own[3 * i], 3);
    const std::vector<std::uint8_t> once = decode({reversed});
    EXPECT_EQ(decode({own, reversed}), once);
    EXPECT_EQ(decode({reversed, own}), recipe.pictures[0].pixels);
    for (std::size_t i = 0; i < once.size(); ++i) {
        const std::uint8_t p = recipe.pictures[0].pixels[i];
        ASSERT_EQ(std::memcmp(&reversed[3 * once[i]], &own[3 * p], 3), 0) << i;
    }
}

TEST(Remap, PaletteLayoutsFindTheSameEntries) {
    std::uint8_t moviePalette[768];
    for (int i = 0; i < 768; ++i) moviePalette[i] = static_cast<std::uint8_t>(i * 7);
    std::uint8_t plain[256 * 3], padded[256 * 4], bgrWide[256 * 6];
    for (int i = 0; i < 256; ++i) {
        const std::uint8_t* c = moviePalette + 3 * ((i * 5) % 256);
        std::memcpy(plain + 3 * i, c, 3);
        padded[4 * i] = 0xFF;
        std::memcpy(padded + 4 * i + 1, c, 3);
        for (int k = 0; k < 3; ++k) {
            bgrWide[6 * i + 2 * (2 - k)] = c[k];
            bgrWide[6 * i + 2 * (2 - k) + 1] = 0x55;
        }
    }
    std::uint8_t a[256], b[256], c[256];
    NearestColourMap(moviePalette, plain, 256, 0, a);
    NearestColourMap(moviePalette, padded, 300, ZAMBPAL_4BYTE | ZAMBPAL_PAD_FIRST, b);
    NearestColourMap(moviePalette, bgrWide, 256, ZAMBPAL_BGR | ZAMBPAL_WIDE, c);
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(std::memcmp(plain + 3 * a[i], moviePalette + 3 * i, 3), 0) << i;
        EXPECT_EQ(a[i], b[i]) << i;
        EXPECT_EQ(a[i], c[i]) << i;
    }
}

// A chunk cut short or filled with noise decodes garbage but stays inside its buffers.
TEST(BadInput, DamagedVideoChunksStayInsideTheBuffers) {
    const MovieRecipe recipe = MixedRecipe(64, 32, 3, 12);
    zambrel::encoder::WriteResult written = zambrel::encoder::WriteMovie(recipe);
    ASSERT_TRUE(written.ok);
    for (int damage = 0; damage < 6; ++damage) {
        std::vector<std::uint8_t> bytes = written.bytes;
        const auto& layout = written.layout;
        const std::size_t last = layout.storedFrames - 1;
        if (damage == 0) {
            // The last frame loses all but 3 bytes of itself.
            const std::uint32_t cut = layout.frameSizes[last] - 3;
            const std::uint32_t size = 3;
            std::memcpy(&bytes[104 + 4 * last], &size, 4);
            bytes.resize(bytes.size() - cut);
        } else {
            std::uint32_t seed = 77u * damage;
            for (std::size_t i = layout.firstFrameOffset; i < bytes.size(); ++i) {
                seed = seed * 1103515245u + 12345u;
                if (damage < 3 || (seed >> 16) % 8 == 0)
                    bytes[i] = static_cast<std::uint8_t>(seed >> 24);
            }
        }
        for (std::uint32_t flags : {0u, std::uint32_t{ZAMB_DOUBLE}}) {
            for (bool wide : {false, true}) {
                ForcePath path(wide);
                Movie* movie = OpenBytes(bytes, flags);
                ASSERT_NE(movie, nullptr);
                Target target;
                target.format = damage % 2 ? ZAMBBLIT_RGB565 : 0;
                GuardedBuffer buffer = Attach(movie, target);
                for (int f = 0; f < 4; ++f) {
                    ZambDoFrame(movie);
                    while (ZambNextRect(movie, 0)) {
                        EXPECT_GE(movie->RectX, 0);
                        EXPECT_LE(movie->RectX + movie->RectW, 64);
                    }
                    ZambNextFrame(movie);
                }
                EXPECT_TRUE(buffer.GuardsIntact()) << damage;
                ZambClose(movie);
            }
        }
    }
}

}  // namespace
}  // namespace video_test
