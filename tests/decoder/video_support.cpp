// SPDX-License-Identifier: MIT
// Helpers of the video tests.
#include "video_support.h"

#include <gtest/gtest.h>

#include "platform/standin/kernel/seams.h"
#include "platform/win32.h"
#include "zambrel/blit.h"

namespace video_test {

std::vector<std::uint8_t> WriteBytes(const MovieRecipe& recipe) {
    zambrel::encoder::WriteResult written = zambrel::encoder::WriteMovie(recipe);
    EXPECT_TRUE(written.ok) << written.error;
    return written.bytes;
}

Movie* OpenBytes(const std::vector<std::uint8_t>& bytes, std::uint32_t flags) {
    HANDLE file = standin::OpenMemoryFile(bytes.data(), bytes.size());
    Movie* movie = ZambOpen(file, ZAMB_FILE_HANDLE | flags, 0xFFFFFFFFu);
    // The movie keeps reading through the handle while it streams; it is closed with the
    // process, as a memory file holds nothing outside it.
    EXPECT_NE(movie, nullptr);
    return movie;
}

bool GuardedBuffer::GuardsIntact() const {
    const std::size_t inner = std::size_t(pitch) * rows;
    for (std::size_t i = 0; i < kGuard; ++i) {
        if (bytes[i] != kFill || bytes[kGuard + inner + i] != kFill) return false;
    }
    return true;
}

static std::uint32_t BytesPerPixel(const Target& t) {
    return t.format ? 2 : 1;
}

GuardedBuffer Attach(Movie* movie, const Target& target) {
    GuardedBuffer b;
    b.pitch = static_cast<std::int32_t>((target.left + movie->Width) * BytesPerPixel(target) +
                                        target.extraPitch);
    b.rows = static_cast<std::int32_t>(target.top + movie->Height + target.extraRows);
    b.bytes.assign(std::size_t(b.pitch) * b.rows + 2 * GuardedBuffer::kGuard, GuardedBuffer::kFill);
    ZambSetDestination(movie, target.left, target.top, b.pitch, b.rows, b.Start(),
                       target.format | (target.bottomUp ? 1u : 0u));
    return b;
}

std::uint32_t ReadPixel(GuardedBuffer& b, const Movie*, const Target& t, std::uint32_t x,
                        std::uint32_t shownRow) {
    const std::int64_t row = t.bottomUp ? b.rows - 1 - (t.top + shownRow) : t.top + shownRow;
    const std::uint8_t* p = b.Start() + row * b.pitch + (t.left + x) * BytesPerPixel(t);
    return t.format ? std::uint32_t(p[0] | p[1] << 8) : p[0];
}

std::uint32_t ExpectedPixel(const Picture& picture, std::uint32_t width, const Target& t,
                            std::uint32_t x, std::uint32_t y) {
    const std::uint8_t index = picture.pixels[std::size_t{y} * width + x];
    if (t.format == 0) return index;
    const unsigned r = picture.palette[3 * index], g = picture.palette[3 * index + 1],
                   b = picture.palette[3 * index + 2];
    if (t.format == ZAMBBLIT_RGB565) return (r >> 3) << 11 | (g >> 2) << 5 | (b >> 3);
    return (r >> 3) << 10 | (g >> 3) << 5 | (b >> 3);
}

std::size_t PictureOfPlayedFrame(const MovieRecipe& recipe, std::size_t played) {
    // A ring movie shows picture 0 again through its ring frame and goes on with picture 1;
    // without one the movie starts over at frame 0. Either way the pictures repeat.
    return played % recipe.pictures.size();
}

int CountWrongPixels(GuardedBuffer& b, const Movie* movie, const Target& t, const Picture& picture,
                     std::uint32_t width, std::uint32_t height) {
    const bool interlaced = (movie->OpenFlags & ZAMB_INTERLACE) != 0;
    const bool doubled = (movie->OpenFlags & ZAMB_DOUBLE) != 0;
    int wrong = 0;
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::uint32_t want = ExpectedPixel(picture, width, t, x, y);
            if (interlaced) {
                wrong += ReadPixel(b, movie, t, x, 2 * y) != want;
            } else if (doubled) {
                wrong += ReadPixel(b, movie, t, x, 2 * y) != want;
                wrong += ReadPixel(b, movie, t, x, 2 * y + 1) != want;
            } else {
                wrong += ReadPixel(b, movie, t, x, y) != want;
            }
        }
    }
    return wrong;
}

}  // namespace video_test
