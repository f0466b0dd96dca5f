// SPDX-License-Identifier: MIT
// Writer-made movies of every kind the embedding interface must hand out alike.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "encoder/writer.h"

namespace library_test {

struct MovieKind {
    std::string name;
    zambrel::encoder::MovieRecipe recipe;
};

// Mono and stereo, 8- and 16-bit, raw and delta-coded sound on several tracks; interlaced,
// doubled and ring movies; lopsided trees; many colours (wide tables); untimed.
std::vector<MovieKind> AllMovieKinds();

// The movie's bytes; fails the test when the writer refuses the recipe.
std::vector<std::uint8_t> Write(const zambrel::encoder::MovieRecipe& recipe);

}  // namespace library_test
