// SPDX-License-Identifier: MIT
// Helpers of the video tests: writer-made movies opened from memory, decoded frame by frame
// into guarded destinations, and the pictures the decode should give back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/movie_names.h"
#include "encoder/writer.h"
#include "test_movies.h"

namespace video_test {

using zambrel::encoder::MovieRecipe;
using zambrel::encoder::Picture;

using test_movies::MixedRecipe;

std::vector<std::uint8_t> WriteBytes(const MovieRecipe& recipe);
Movie* OpenBytes(const std::vector<std::uint8_t>& bytes, std::uint32_t flags = 0);

// How a destination is laid out for a test.
struct Target {
    std::uint32_t format = 0;  // 0, ZAMBBLIT_RGB555 or ZAMBBLIT_RGB565
    bool bottomUp = false;
    std::uint32_t left = 0;
    std::int32_t top = 0;
    std::uint32_t extraRows = 0;   // below the picture
    std::uint32_t extraPitch = 0;  // bytes right of the picture
};

// A buffer with guard bytes on both sides and a fill value, so writes outside show.
struct GuardedBuffer {
    static constexpr std::size_t kGuard = 256;
    static constexpr std::uint8_t kFill = 0xA5;
    std::vector<std::uint8_t> bytes;
    std::int32_t pitch = 0, rows = 0;
    std::uint8_t* Start() { return bytes.data() + kGuard; }
    bool GuardsIntact() const;
};

// Sets a destination for `movie` as `target` says; the buffer covers the shown picture.
GuardedBuffer Attach(Movie* movie, const Target& target);

// The pixel value (index or 16-bit) at picture column x, shown row y, read from the buffer.
std::uint32_t ReadPixel(GuardedBuffer& buffer, const Movie* movie, const Target& target,
                        std::uint32_t x, std::uint32_t shownRow);

// The pixel the picture should give: its index, or the 16-bit value of its palette colour.
std::uint32_t ExpectedPixel(const Picture& picture, std::uint32_t width, const Target& target,
                            std::uint32_t x, std::uint32_t y);

// The index into recipe.pictures that played frame `played` (0-based) shows.
std::size_t PictureOfPlayedFrame(const MovieRecipe& recipe, std::size_t played);

// Counts picture pixels that differ from `picture` (every shown row that is written).
int CountWrongPixels(GuardedBuffer& buffer, const Movie* movie, const Target& target,
                     const Picture& picture, std::uint32_t width, std::uint32_t height);

}  // namespace video_test
