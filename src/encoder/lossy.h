// SPDX-License-Identifier: MIT
// The writer's quality setting: pictures simplified, block by block, as far as an error
// budget allows, so that the lossless coder then finds skipped, solid and two-colour blocks.
#pragma once

#include <cstdint>
#include <vector>

#include "encoder/palette_chunk.h"
#include "encoder/writer.h"

namespace zambrel::encoder {

// The pictures as they will be shown: each block of picture i is, in this order of
// preference, the block on screen after picture i - 1 (never for picture 0, where a movie
// may start again), one colour, or two colours of its own, whichever first stays within
// `budget` (the sum over the block's 16 pixels of the squared differences of red, green and
// blue as shown, through `levels[i]`); otherwise it is kept as it is.
std::vector<std::vector<std::uint8_t>> SimplifyPictures(const MovieRecipe& recipe,
                                                        const std::vector<Levels>& levels,
                                                        std::uint32_t budget);

}  // namespace zambrel::encoder
