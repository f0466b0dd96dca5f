// SPDX-License-Identifier: MIT
// Every mode and key-colour worker on an exhaustive small grid of sizes, offsets and pitch
// directions: the plain and the vector paths against a pixel-by-pixel model, bytes outside
// the rectangle included.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include "blit/workers.h"
#include "blit_test_support.h"

namespace {

constexpr std::uint8_t kJunk = 0x5A;
constexpr int kMaxWidth = 40;
constexpr int kMaxHeight = 3;
constexpr int kMaxOffset = 7;
constexpr int kDestY = 1;  // one row of margin above exercises the row arithmetic

// A buffer big enough for the largest case, addressed either top down or bottom up.
struct Surface {
    std::vector<std::uint8_t> bytes;
    std::ptrdiff_t pitch = 0;
    std::uint8_t* origin = nullptr;

    Surface(std::size_t rowBytes, int rows, bool bottomUp, std::uint8_t fill)
        : bytes(rowBytes * rows, fill), pitch(static_cast<std::ptrdiff_t>(rowBytes)) {
        origin = bytes.data();
        if (bottomUp) {
            origin += (rows - 1) * rowBytes;
            pitch = -pitch;
        }
    }
    std::uint8_t* At(std::ptrdiff_t row, std::ptrdiff_t byte) {
        return origin + row * pitch + byte;
    }
};

// The per-pixel rules, written from the pictures they make rather than the row walk.
struct Model {
    const ZambBlitHandle* handle;
    Surface& dest;
    Surface& src;
    std::uint32_t destX, srcX, width, height;

    std::uint8_t Source(std::ptrdiff_t x, std::ptrdiff_t y) { return *src.At(y, srcX + x); }
    void Put(std::uint32_t mode, std::ptrdiff_t x, std::ptrdiff_t y, std::uint16_t value) {
        if (mode >= 6) {
            std::memcpy(dest.At(y, 2 * x), &value, 2);
        } else {
            *dest.At(y, x) = static_cast<std::uint8_t>(value);
        }
    }
    std::uint16_t Smooth(std::uint32_t mode, std::uint8_t a, std::uint8_t b) {
        if (mode >= 6) return static_cast<const std::uint16_t*>(handle->smoothTable)[a * 256 + b];
        return static_cast<const std::uint8_t*>(handle->smoothTable)[a * 256 + b];
    }
    void Blit() {
        const std::uint32_t mode = handle->mode, shape = mode % 6;
        for (std::ptrdiff_t y = 0; y < height; ++y) {
            for (std::ptrdiff_t x = 0; x < width; ++x) {
                const std::uint8_t p = Source(x, y);
                const std::uint16_t c = mode >= 6 ? handle->colourTable[p] : p;
                const std::ptrdiff_t bx = 2 * (destX + x), by = 2 * (kDestY + y);
                if (shape == 0) Put(mode, destX + x, kDestY + y, c);
                if (shape == 1 || shape == 2) {
                    Put(mode, bx, by, c);
                    Put(mode, bx + 1, by, c);
                }
                if (shape == 1) {
                    Put(mode, bx, by + 1, c);
                    Put(mode, bx + 1, by + 1, c);
                }
                if (shape == 3) {
                    const std::uint8_t left = x ? Source(x - 1, y) : p;
                    const std::uint8_t up = y ? Source(x, y - 1) : p;
                    Put(mode, bx, by, Smooth(mode, left, up));
                    Put(mode, bx + 1, by, Smooth(mode, p, up));
                    Put(mode, bx, by + 1, Smooth(mode, p, left));
                    Put(mode, bx + 1, by + 1, mode >= 6 ? Smooth(mode, p, p) : p);
                }
            }
        }
    }
};

enum class Operation { kBlit, kTrans, kMask, kMerge };

struct GridCase {
    Operation operation;
    std::uint32_t flags;
};

constexpr std::uint8_t kKey = 1;

// Source and side pixels from a small set, so the key colour turns up often.
void FillPicture(Surface& surface, std::uint32_t seed) {
    std::mt19937 random(seed);
    for (auto& byte : surface.bytes) byte = static_cast<std::uint8_t>(random() % 5);
}

void ModelKey(Operation operation, Surface& dest, Surface& src, Surface& side, std::uint32_t destX,
              std::uint32_t srcX, std::uint32_t width, std::uint32_t height) {
    for (std::ptrdiff_t y = 0; y < height; ++y) {
        for (std::ptrdiff_t x = 0; x < width; ++x) {
            const std::uint8_t s = *src.At(y, srcX + x), m = *side.At(y, srcX + x);
            std::uint8_t& d = *dest.At(kDestY + y, destX + x);
            if (operation == Operation::kTrans && s != kKey) d = s;
            if (operation == Operation::kMask && m != kKey) d = s;
            if (operation == Operation::kMerge) d = s == kKey ? m : s;
        }
    }
}

void RunLibrary(Operation operation, ZambBlitHandle* handle, Surface& dest, Surface& src,
                Surface& side, std::uint32_t destX, std::uint32_t srcX, std::uint32_t width,
                std::uint32_t height) {
    const auto destPitch = static_cast<std::int32_t>(dest.pitch);
    const auto srcPitch = static_cast<std::int32_t>(src.pitch);
    switch (operation) {
        case Operation::kBlit:
            ZambBlit(handle, dest.origin, destPitch, destX, kDestY, src.origin, srcPitch, srcX, 0,
                     width, height);
            break;
        case Operation::kTrans:
            ZambBlitTrans(handle, dest.origin, destPitch, destX, kDestY, src.origin, srcPitch, srcX,
                          0, width, height, 0x100 | kKey);
            break;
        case Operation::kMask:
            ZambBlitMask(handle, dest.origin, destPitch, destX, kDestY, src.origin, srcPitch, srcX,
                         0, width, height, kKey, side.origin);
            break;
        case Operation::kMerge:
            ZambBlitMerge(handle, dest.origin, destPitch, destX, kDestY, src.origin, srcPitch, srcX,
                          0, width, height, kKey, side.origin);
            break;
    }
}

void RunGrid(const GridCase& grid) {
    const auto rgb = RandomPalette(31);
    ZambBlitHandle* handle = OpenWithPalette(grid.flags, rgb);
    ASSERT_NE(handle, nullptr);
    const bool doubled = handle->mode % 6 != 0;
    const std::size_t pixel = handle->mode >= 6 ? 2 : 1;
    const std::size_t destRowBytes = (kMaxWidth + kMaxOffset + 1) * pixel * (doubled ? 2 : 1);
    const int destRows = (kDestY + kMaxHeight) * (doubled ? 2 : 1) + 1;
    const std::size_t srcRowBytes = kMaxWidth + kMaxOffset + 1;
    for (bool bottomUp : {false, true}) {
        Surface src(srcRowBytes, kMaxHeight, bottomUp, 0),
            side(srcRowBytes, kMaxHeight, bottomUp, 0);
        FillPicture(src, 32);
        FillPicture(side, 33);
        Surface expected(destRowBytes, destRows, bottomUp, kJunk);
        Surface plain(destRowBytes, destRows, bottomUp, kJunk);
        Surface vector(destRowBytes, destRows, bottomUp, kJunk);
        for (std::uint32_t height = 1; height <= kMaxHeight; ++height)
            for (std::uint32_t width = 0; width <= kMaxWidth; ++width)
                for (std::uint32_t srcX = 0; srcX <= kMaxOffset; ++srcX)
                    for (std::uint32_t destX = 0; destX <= kMaxOffset; ++destX) {
                        for (Surface* s : {&expected, &plain, &vector})
                            std::fill(s->bytes.begin(), s->bytes.end(), kJunk);
                        if (grid.operation == Operation::kBlit) {
                            Model{handle, expected, src, destX, srcX, width, height}.Blit();
                        } else {
                            ModelKey(grid.operation, expected, src, side, destX, srcX, width,
                                     height);
                        }
                        {
                            PathChoice path(false);
                            RunLibrary(grid.operation, handle, plain, src, side, destX, srcX, width,
                                       height);
                        }
                        {
                            PathChoice path(true);
                            RunLibrary(grid.operation, handle, vector, src, side, destX, srcX,
                                       width, height);
                        }
                        const auto where = ::testing::Message()
                                           << "bottomUp " << bottomUp << " width " << width
                                           << " height " << height << " srcX " << srcX << " destX "
                                           << destX;
                        ASSERT_EQ(plain.bytes, expected.bytes) << "plain, " << where;
                        ASSERT_EQ(vector.bytes, expected.bytes) << "vector, " << where;
                    }
    }
    ZambBlitClose(handle);
}

class BlitGrid : public ::testing::TestWithParam<GridCase> {};

TEST_P(BlitGrid, PlainAndVectorPathsMatchTheModel) {
    RunGrid(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    EveryWorker, BlitGrid,
    ::testing::Values(
        GridCase{Operation::kBlit, ZAMBBLIT_1X}, GridCase{Operation::kBlit, ZAMBBLIT_2X},
        GridCase{Operation::kBlit, ZAMBBLIT_2X_INTERLACE},
        GridCase{Operation::kBlit, ZAMBBLIT_2X_SMOOTH}, GridCase{Operation::kBlit, ZAMBBLIT_RGB565},
        GridCase{Operation::kBlit, ZAMBBLIT_RGB565 | ZAMBBLIT_2X},
        GridCase{Operation::kBlit, ZAMBBLIT_RGB555 | ZAMBBLIT_2X_INTERLACE},
        GridCase{Operation::kBlit, ZAMBBLIT_RGB555 | ZAMBBLIT_2X_SMOOTH},
        GridCase{Operation::kTrans, ZAMBBLIT_1X}, GridCase{Operation::kMask, ZAMBBLIT_1X},
        GridCase{Operation::kMerge, ZAMBBLIT_1X}));

// The grid's rows are shorter than one step of the widest look-up workers and never follow
// each other in memory, so every form of the look-up workers also runs here on rows long
// enough for several steps and every ragged end, spaced out or packed, against a model of the
// pixels they must write, margins included.
using LookUpWorker = void (*)(const BlitRows&, const std::uint16_t*, bool doubled, bool secondRow);

template <void (*Copy)(const BlitRows&, const std::uint16_t*),
          void (*Double)(const BlitRows&, const std::uint16_t*, bool)>
void RunLookUp(const BlitRows& rows, const std::uint16_t* colours, bool doubled, bool secondRow) {
    doubled ? Double(rows, colours, secondRow) : Copy(rows, colours);
}

void ModelLookUp(const BlitRows& rows, const std::uint16_t* colours, bool doubled, bool secondRow) {
    const int copies = doubled ? 2 : 1;
    for (std::uint32_t r = 0; r < rows.height; ++r)
        for (std::uint32_t x = 0; x < rows.width; ++x)
            for (int dy = 0; dy < (secondRow ? 2 : 1); ++dy)
                for (int dx = 0; dx < copies; ++dx)
                    Store16(
                        rows.dest + r * rows.destStep + dy * rows.destPitch + 2 * (copies * x + dx),
                        colours[rows.src[r * rows.srcPitch + x]]);
}

TEST(LookUpWorkers, EveryFormWritesEveryPixelItsColour) {
    std::vector<std::pair<const char*, LookUpWorker>> forms = {
        {"plain", RunLookUp<plain::Copy16, plain::Double16>},
        {"vector", RunLookUp<vector::Copy16, vector::Double16>}};
    if (avx512::Available())
        forms.push_back({"512-bit", RunLookUp<avx512::Copy16, avx512::Double16>});
    std::uint16_t colours[256];
    std::mt19937 random(41);
    for (auto& colour : colours) colour = static_cast<std::uint16_t>(random());
    constexpr std::uint32_t kWidest = 200, kRows = 3;
    std::vector<std::uint8_t> src(kWidest * kRows + 3);
    for (auto& index : src) index = static_cast<std::uint8_t>(random());
    for (const auto& [name, worker] : forms)
        for (std::uint32_t width = 0; width <= kWidest; ++width)
            for (int shape = 0; shape < 3; ++shape)              // copy, interlaced, doubled
                for (int packing = 0; packing < 3; ++packing) {  // none, destination, both
                    const bool doubled = shape != 0, secondRow = shape == 2;
                    const std::ptrdiff_t rowBytes = 2 * (doubled ? 2 : 1) * std::ptrdiff_t{width};
                    const std::ptrdiff_t destPitch = packing > 0 ? rowBytes : rowBytes + 6;
                    const std::ptrdiff_t step = destPitch * (secondRow ? 2 : 1);
                    std::vector<std::uint8_t> expected(step * kRows + 8, kJunk), got = expected;
                    auto rows = [&](std::vector<std::uint8_t>& dest) {
                        return BlitRows{src.data() + 3,
                                        packing == 2 ? std::ptrdiff_t{width} : kWidest,
                                        dest.data() + 4,
                                        destPitch,
                                        step,
                                        width,
                                        kRows};
                    };
                    ModelLookUp(rows(expected), colours, doubled, secondRow);
                    worker(rows(got), colours, doubled, secondRow);
                    ASSERT_EQ(got, expected) << name << ", width " << width << ", shape " << shape
                                             << ", packing " << packing;
                }
}

// Without this the grid could pass by comparing the plain paths with themselves.
TEST(BlitGridSetUp, VectorPathsAreReallyTaken) {
#if defined(__x86_64__)
    PathChoice path(true);
    EXPECT_TRUE(path.VectorInUse());
    EXPECT_TRUE(BlitHasVectorWorkers());
#else
    GTEST_SKIP() << "no vector workers on this processor";
#endif
}

}  // namespace
