// SPDX-License-Identifier: MIT
// A movie the folder-run tests make many of: a moving pattern with a palette of its own,
// different for each seed, and a frame's worth of sound on track 0 at 11,025 Hz.
#pragma once

#include <cstddef>
#include <cstdint>

#include "encoder/writer.h"

namespace zambrel::test {

inline zambrel::encoder::MovieRecipe PatternRecipe(int seed, std::uint32_t frames,
                                                   std::uint32_t width, std::uint32_t height) {
    namespace enc = zambrel::encoder;
    enc::MovieRecipe recipe;
    recipe.width = width, recipe.height = height;
    recipe.frameRate = 10;
    for (std::uint32_t f = 0; f < frames; ++f) {
        enc::Picture picture;
        picture.pixels.resize(std::size_t{width} * height);
        for (std::size_t i = 0; i < picture.pixels.size(); ++i)
            picture.pixels[i] = static_cast<std::uint8_t>((i * (seed + 3) + f * 7) % 251);
        for (int e = 0; e < 256; ++e)
            for (int c = 0; c < 3; ++c)
                picture.palette[e * 3 + c] =
                    enc::WidenLevel(static_cast<std::uint8_t>((e * (c + 1) + seed) & 63));
        recipe.pictures.push_back(picture);
    }
    enc::SoundTrack& track = recipe.tracks[0];
    track.present = true, track.sampleRate = 11025;
    for (std::uint32_t i = 0; i < frames * 1102; ++i)
        track.samples.push_back(static_cast<std::uint8_t>(128 + (i * (seed + 1)) % 64));
    return recipe;
}

}  // namespace zambrel::test
