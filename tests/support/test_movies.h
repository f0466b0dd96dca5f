// SPDX-License-Identifier: MIT
// Writer recipes shared by the tests of several modules.
#pragma once

#include <cstdint>
#include <random>

#include "encoder/writer.h"

namespace test_movies {

// A recipe of `frames` pictures with solid areas, two-colour edges, noise and still parts,
// and palettes that change every other frame: every kind of block the writer makes.
zambrel::encoder::MovieRecipe MixedRecipe(std::uint32_t width, std::uint32_t height, int frames,
                                          unsigned seed);

// Noise over 192 colours: nearly every pixel pair is a value of its own, so most codes run
// past 12 bits and the decoder's value tables widen.
zambrel::encoder::MovieRecipe ManyColoursRecipe(std::uint32_t width, std::uint32_t height,
                                                int frames, unsigned seed);

// `frames` 16x16 pictures, each filled with its own frame number, at `periodCode` (the
// header's frame rate) and without sound: a movie whose pictures say which frame shows.
zambrel::encoder::MovieRecipe NumberedStillsRecipe(std::uint32_t frames, std::int32_t periodCode);

// NumberedStillsRecipe with 110 bytes of uncompressed 11,025 Hz sound a frame: large enough
// to be read through the ring rather than preloaded, so a cut copy plays its whole frames.
zambrel::encoder::MovieRecipe StreamedStillsRecipe(std::uint32_t frames, std::int32_t periodCode);

// What a picture of VariedRecipe is made of.
enum class Content { Noise, Gradient, Still, PaletteOnly, Solid };

// A movie of the given content with a seeded mix of everything the writer can vary:
// palette-only pictures, empty sound chunks, single-leaf and lopsided trees, no escapes,
// interlacing, doubling, a ring frame, and up to three tracks of silence, tones or noise.
// Every one is a good movie, which no check may call damaged.
zambrel::encoder::MovieRecipe VariedRecipe(std::mt19937& random, Content content);

}  // namespace test_movies
