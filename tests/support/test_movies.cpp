// SPDX-License-Identifier: MIT
// Writer recipes shared by the tests of several modules.
#include "test_movies.h"

#include <random>
#include <utility>

namespace test_movies {

using zambrel::encoder::MovieRecipe;
using zambrel::encoder::Picture;
using zambrel::encoder::WidenLevel;

namespace {

std::uint8_t MixedPixel(std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t height,
                        int frame, std::mt19937& random) {
    std::uint8_t p = static_cast<std::uint8_t>(20 + (y / 8) % 5);
    if ((x / 4 + frame) % 9 == 0) p = ((x + y) & 2) ? 200 : 201;
    if (y >= height / 2 && x < width / 3) p = static_cast<std::uint8_t>(random());
    if (x >= width / 2 && y < height / 3) p = static_cast<std::uint8_t>(x / 4 + y / 4);
    return p;
}

}  // namespace

MovieRecipe MixedRecipe(std::uint32_t width, std::uint32_t height, int frames, unsigned seed) {
    std::mt19937 random(seed);
    MovieRecipe recipe;
    recipe.width = width;
    recipe.height = height;
    for (int f = 0; f < frames; ++f) {
        Picture picture;
        picture.pixels.resize(std::size_t{width} * height);
        for (std::uint32_t y = 0; y < height; ++y)
            for (std::uint32_t x = 0; x < width; ++x)
                picture.pixels[std::size_t{y} * width + x] =
                    MixedPixel(x, y, width, height, f, random);
        for (int i = 0; i < 256; ++i)
            for (int c = 0; c < 3; ++c)
                picture.palette[3 * i + c] =
                    WidenLevel(static_cast<std::uint8_t>((i * (c + 1) + (f / 2) * 7) & 63));
        recipe.pictures.push_back(std::move(picture));
    }
    return recipe;
}

MovieRecipe ManyColoursRecipe(std::uint32_t width, std::uint32_t height, int frames,
                              unsigned seed) {
    MovieRecipe recipe = MixedRecipe(width, height, frames, seed);
    std::mt19937 random(seed);
    for (Picture& picture : recipe.pictures) {
        for (std::uint8_t& pixel : picture.pixels)
            pixel = static_cast<std::uint8_t>(random() % 192);
    }
    return recipe;
}

MovieRecipe NumberedStillsRecipe(std::uint32_t frames, std::int32_t periodCode) {
    MovieRecipe recipe;
    recipe.width = 16;
    recipe.height = 16;
    recipe.frameRate = periodCode;
    for (std::uint32_t f = 0; f < frames; ++f) {
        Picture picture;
        picture.pixels.assign(16 * 16, static_cast<std::uint8_t>(f));
        recipe.pictures.push_back(std::move(picture));
    }
    return recipe;
}

MovieRecipe StreamedStillsRecipe(std::uint32_t frames, std::int32_t periodCode) {
    MovieRecipe recipe = NumberedStillsRecipe(frames, periodCode);
    recipe.tracks[0].present = true;
    recipe.tracks[0].sampleRate = 11025;
    recipe.tracks[0].compressed = false;
    for (std::uint32_t i = 0; i < frames * 110; ++i)
        recipe.tracks[0].samples.push_back(static_cast<std::uint8_t>(i * 37 % 251));
    return recipe;
}

zambrel::encoder::MovieRecipe VariedRecipe(std::mt19937& random, Content content) {
    namespace enc = zambrel::encoder;
    auto pick = [&random](int n) { return static_cast<int>(random() % n); };
    enc::MovieRecipe recipe;
    recipe.width = 4 * (1 + pick(12));
    recipe.height = 4 * (1 + pick(8));
    const int frames = 1 + pick(10);
    for (int f = 0; f < frames; ++f) {
        enc::Picture picture;
        picture.pixels.resize(std::size_t{recipe.width} * recipe.height);
        for (std::size_t i = 0; i < picture.pixels.size(); ++i) {
            const std::uint32_t x = i % recipe.width, y = i / recipe.width;
            switch (content) {
                case Content::Noise:
                    picture.pixels[i] = static_cast<std::uint8_t>(random());
                    break;
                case Content::Gradient:
                    picture.pixels[i] = static_cast<std::uint8_t>(x + y + f);
                    break;
                case Content::Still:
                    picture.pixels[i] = static_cast<std::uint8_t>(x * y);
                    break;
                case Content::PaletteOnly:
                    picture.pixels[i] = 0;
                    break;
                case Content::Solid:
                    picture.pixels[i] = static_cast<std::uint8_t>(f * 40);
                    break;
            }
        }
        for (int e = 0; e < 768; ++e)
            picture.palette[e] = enc::WidenLevel(static_cast<std::uint8_t>((e + f * 5) % 64));
        recipe.pictures.push_back(picture);
    }
    recipe.ring = pick(4) == 0;
    recipe.interlaced = pick(6) == 0;
    recipe.doubled = !recipe.interlaced && pick(6) == 0;
    recipe.blockErrorBudget = pick(3) == 0 ? 3000 : 0;
    recipe.stream.treeShape = pick(3) == 0 ? enc::TreeShape::Lopsided : enc::TreeShape::Huffman;
    recipe.stream.escapes = pick(3) == 0 ? enc::EscapeUse::Never : enc::EscapeUse::Recent;
    recipe.stream.fullBlocksOnly = pick(5) == 0;
    recipe.stream.noSkip = pick(4) == 0;
    recipe.stream.overlongLastRun = pick(4) == 0;
    recipe.stream.paletteEveryFrame = pick(3) == 0;
    recipe.soundLead = pick(2) == 0 ? enc::kAutomaticSoundLead : enc::kNoSoundLead;
    for (int n = 0; n < 3; ++n) {
        if (pick(2) == 0) continue;
        enc::SoundTrack& track = recipe.tracks[pick(enc::kTrackCount)];
        track.present = true;
        track.sampleRate = pick(2) ? 11025 : 22050;
        track.is16Bit = pick(2) == 0;
        track.stereo = pick(2) == 0;
        track.compressed = pick(3) != 0;
        track.emptyChunks = pick(2) == 0;
        const std::size_t frameBytes = (track.is16Bit ? 2 : 1) * (track.stereo ? 2 : 1);
        const std::size_t length = frameBytes * (pick(3) == 0 ? 1 : 200 + pick(3000));
        track.samples.resize(length);
        // Silence, a tone or noise: single-leaf byte trees, small deltas and large ones.
        const int kind = pick(3);
        for (std::size_t i = 0; i < length; ++i)
            track.samples[i] = kind == 0   ? 0x80
                               : kind == 1 ? static_cast<std::uint8_t>(i / 7)
                                           : static_cast<std::uint8_t>(random());
    }
    return recipe;
}

}  // namespace test_movies
