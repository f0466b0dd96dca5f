// SPDX-License-Identifier: MIT
// Writer recipes shared by the tests of several modules.
#pragma once

#include <cstdint>

#include "encoder/writer.h"

namespace test_movies {

// A recipe of `frames` pictures with solid areas, two-colour edges, noise and still parts,
// and palettes that change every other frame: every kind of block the writer makes.
zambrel::encoder::MovieRecipe MixedRecipe(std::uint32_t width, std::uint32_t height, int frames,
                                          unsigned seed);

}  // namespace test_movies
