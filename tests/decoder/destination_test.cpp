// SPDX-License-Identifier: MIT
// Destinations: where each picture row lands, 16-bit colours, refusal of buffers that
// cannot hold the picture, release, reuse and the colour table's carry-over.
#include <gtest/gtest.h>

#include "decoder/destination.h"
#include "decoder/video.h"
#include "video_support.h"
#include "zambrel/blit.h"

namespace video_test {
namespace {

// Picture row y is filled with index y + 1, so each buffer row tells which row it holds.
MovieRecipe RowNumberedRecipe(std::uint32_t width, std::uint32_t height) {
    MovieRecipe recipe;
    recipe.width = width;
    recipe.height = height;
    Picture picture;
    picture.pixels.resize(std::size_t{width} * height);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x)
            picture.pixels[y * width + x] = static_cast<std::uint8_t>(y + 1);
    recipe.pictures = {picture, picture};
    return recipe;
}

std::uint8_t BufferRow(GuardedBuffer& b, std::int32_t row, std::uint32_t column = 0) {
    return b.Start()[std::size_t(row) * b.pitch + column];
}

TEST(Destination, BottomUpBufferTakesTheTopRowLast) {
    const auto bytes = WriteBytes(RowNumberedRecipe(16, 240));
    Movie* movie = OpenBytes(bytes);
    Target target;
    target.bottomUp = true;
    GuardedBuffer b = Attach(movie, target);
    ZambDoFrame(movie);
    EXPECT_EQ(BufferRow(b, 239), 1);
    EXPECT_EQ(BufferRow(b, 0), 240);
    EXPECT_EQ(movie->Dest->RowStep, -16);
    EXPECT_TRUE(b.GuardsIntact());
    ZambClose(movie);
}

TEST(Destination, InterlacedAndDoubledRowPlacement) {
    const auto bytes = WriteBytes(RowNumberedRecipe(8, 120));
    {
        Movie* movie = OpenBytes(bytes, ZAMB_INTERLACE);
        GuardedBuffer b = Attach(movie, Target{});
        ZambDoFrame(movie);
        EXPECT_EQ(movie->Dest->RowStep, 16);
        for (int r = 0; r < 120; ++r) {
            ASSERT_EQ(BufferRow(b, 2 * r), r + 1) << r;
            ASSERT_EQ(BufferRow(b, 2 * r + 1), GuardedBuffer::kFill) << r;
        }
        ZambClose(movie);
    }
    {
        Movie* movie = OpenBytes(bytes, ZAMB_DOUBLE);
        Target target;
        target.top = 3;
        target.left = 4;
        GuardedBuffer b = Attach(movie, target);
        ZambDoFrame(movie);
        EXPECT_EQ(movie->Dest->BlockSpan, 7 * b.pitch);
        for (int r = 0; r < 120; ++r) {
            ASSERT_EQ(BufferRow(b, 3 + 2 * r, 4), r + 1) << r;
            ASSERT_EQ(BufferRow(b, 4 + 2 * r, 11), r + 1) << r;
            ASSERT_EQ(BufferRow(b, 4 + 2 * r, 3), GuardedBuffer::kFill) << r;
        }
        EXPECT_TRUE(b.GuardsIntact());
        ZambClose(movie);
    }
}

TEST(Destination, SixteenBitColoursFromThePalette) {
    const std::uint8_t white[3] = {255, 255, 255}, dim[3] = {8, 4, 8}, red[3] = {255, 0, 0};
    EXPECT_EQ(ColourPixel16(kFormat565, white), 0xFFFF);
    EXPECT_EQ(ColourPixel16(kFormat565, dim), 0x0821);
    EXPECT_EQ(ColourPixel16(kFormat555, red), 0x7C00);
}

TEST(Destination, RefusesBuffersThatCannotHoldThePicture) {
    const auto bytes = WriteBytes(RowNumberedRecipe(16, 8));
    Movie* movie = OpenBytes(bytes);
    std::vector<std::uint8_t> buffer(64 * 64);
    struct Case {
        std::uint32_t left;
        std::int32_t top, pitch, rows;
        std::uint32_t flags;
        bool fits;
    } cases[] = {
        {0, 0, 16, 8, 0, true},
        {0, 0, 15, 8, 0, false},  // too narrow a pitch
        {1, 0, 16, 8, 0, false},
        {48, 0, 64, 8, 0, true},  // placed partly outside
        {0, 1, 16, 8, 0, false},
        {0, -1, 16, 9, 0, false},
        {0, 0, 16, 7, 1, false},
        {0, 0, 0, 8, 0, false},
        {0, 0, -16, 8, 0, false},
        {0, 0, 31, 8, ZAMBBLIT_RGB565, false},
        {0, 0, 32, 8, ZAMBBLIT_RGB555, true},
    };
    for (const Case& c : cases) {
        ZambSetDestination(movie, c.left, c.top, c.pitch, c.rows, buffer.data(), c.flags);
        EXPECT_EQ(movie->Dest != nullptr, c.fits)
            << c.left << " " << c.top << " " << c.pitch << " " << c.rows;
    }
    // Without a destination a frame decodes its sound only.
    ZambSetDestination(movie, 0, 0, 15, 8, buffer.data(), 0);
    ZambDoFrame(movie);
    EXPECT_EQ(movie->FramesSkipped, 0u);
    EXPECT_EQ(movie->RectState, 0);
    EXPECT_EQ(ZambNextRect(movie, 0), 0);
    ZambClose(movie);
}

TEST(Destination, ReleaseReuseAndColourTableCarryOver) {
    const auto bytes = WriteBytes(RowNumberedRecipe(16, 8));
    Movie* movie = OpenBytes(bytes);
    const std::uint32_t base = movie->MemoryInUse;
    std::vector<std::uint8_t> buffer(32 * 8);
    ZambSetDestination(movie, 0, 0, 32, 8, buffer.data(), ZAMBBLIT_RGB565);
    ASSERT_NE(movie->ColourTable16, nullptr);
    EXPECT_EQ(movie->MemoryInUse, base + movie->DestSize);
    EXPECT_EQ(movie->DestSize, DestinationSize(16, 8, true));
    movie->ColourTable16[7] = 0x1234;
    Destination* first = movie->Dest;
    // An 8-bit destination fits in the same descriptor; going back to 16 bits keeps the table.
    ZambSetDestination(movie, 0, 0, 16, 8, buffer.data(), 0);
    EXPECT_EQ(movie->Dest, first);
    EXPECT_EQ(movie->ColourTable16, nullptr);
    ZambSetDestination(movie, 0, 0, 32, 8, buffer.data(), ZAMBBLIT_RGB555);
    EXPECT_EQ(movie->Dest, first);
    EXPECT_EQ(movie->ColourTable16[7], 0x1234);
    EXPECT_EQ(movie->Dest->PixelFormat, kFormat555);
    ZambSetDestination(movie, 0, 0, 32, 8, nullptr, 0);
    EXPECT_EQ(movie->Dest, nullptr);
    EXPECT_EQ(movie->ColourTable16, nullptr);
    EXPECT_EQ(movie->MemoryInUse, base);
    ZambClose(movie);
}

}  // namespace
}  // namespace video_test
