// SPDX-License-Identifier: MIT
#include "movie_kinds.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "test_movies.h"

namespace library_test {

using zambrel::encoder::MovieRecipe;
using zambrel::encoder::SoundTrack;

namespace {

// A tone with some noise, so that delta coding has work to do, as the track stores it.
SoundTrack Tone(std::uint32_t rate, bool is16Bit, bool stereo, bool compressed, double seconds,
                unsigned seed) {
    SoundTrack track;
    track.present = true;
    track.sampleRate = rate;
    track.is16Bit = is16Bit;
    track.stereo = stereo;
    track.compressed = compressed;
    std::mt19937 random(seed);
    const auto frames = static_cast<std::uint32_t>(rate * seconds);
    for (std::uint32_t i = 0; i < frames; ++i) {
        for (int c = 0; c < (stereo ? 2 : 1); ++c) {
            const double wave = std::sin(i * (0.05 + 0.03 * c)) * 0.6 + (random() % 64) / 640.0;
            if (is16Bit) {
                const auto v = static_cast<std::int16_t>(wave * 30000);
                track.samples.push_back(static_cast<std::uint8_t>(v & 0xFF));
                track.samples.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
            } else {
                track.samples.push_back(static_cast<std::uint8_t>(128 + wave * 120));
            }
        }
    }
    return track;
}

MovieRecipe Mixed(std::uint32_t width, std::uint32_t height, int frames, unsigned seed) {
    return test_movies::MixedRecipe(width, height, frames, seed);
}

}  // namespace

std::vector<MovieKind> AllMovieKinds() {
    std::vector<MovieKind> kinds;
    {
        MovieRecipe r = Mixed(64, 48, 12, 1);
        r.tracks[0] = Tone(11025, false, false, true, 0.9, 1);
        kinds.push_back({"8-bit mono delta-coded sound", r});
    }
    {
        MovieRecipe r = Mixed(48, 32, 10, 2);
        r.frameRate = 50;
        r.tracks[0] = Tone(22050, true, true, true, 0.6, 2);
        r.tracks[3] = Tone(8000, false, true, false, 0.6, 3);
        r.tracks[6] = Tone(16000, true, false, false, 0.6, 4);
        kinds.push_back({"three tracks, raw and delta-coded, 16-bit stereo", r});
    }
    {
        MovieRecipe r = Mixed(40, 24, 9, 3);
        r.interlaced = true;
        kinds.push_back({"interlaced", r});
    }
    {
        MovieRecipe r = Mixed(40, 24, 9, 4);
        r.doubled = true;
        r.tracks[1] = Tone(11025, true, false, true, 0.7, 5);
        kinds.push_back({"doubled, sound on track 1", r});
    }
    {
        MovieRecipe r = Mixed(32, 32, 8, 5);
        r.ring = true;
        kinds.push_back({"ring", r});
    }
    {
        MovieRecipe r = Mixed(32, 24, 7, 6);
        r.stream.treeShape = zambrel::encoder::TreeShape::Lopsided;
        r.stream.escapes = zambrel::encoder::EscapeUse::Never;
        r.stream.paletteEveryFrame = true;
        kinds.push_back({"lopsided trees, a palette chunk every frame", r});
    }
    kinds.push_back({"many colours", test_movies::ManyColoursRecipe(96, 64, 5, 7)});
    {
        MovieRecipe r = Mixed(36, 20, 6, 8);
        r.frameRate = 0;
        kinds.push_back({"untimed", r});
    }
    return kinds;
}

std::vector<std::uint8_t> Write(const MovieRecipe& recipe) {
    zambrel::encoder::WriteResult written = zambrel::encoder::WriteMovie(recipe);
    EXPECT_TRUE(written.ok) << written.error;
    return written.bytes;
}

}  // namespace library_test
