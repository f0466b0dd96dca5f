// SPDX-License-Identifier: MIT
// The seek index's packed pictures come back exactly, whatever the picture, and packing
// pays where pictures are smooth.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "handles/snapshot_pack.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes RoundTrip(const Bytes& picture, std::uint32_t width, std::uint32_t height,
                std::size_t* packedSize) {
    Bytes packed(PackedPictureBound(width, height));
    *packedSize = PackPicture(picture.data(), width, height, packed.data());
    EXPECT_LE(*packedSize, packed.size());
    Bytes back(picture.size(), 0xA5);
    EXPECT_TRUE(UnpackPicture(packed.data(), *packedSize, width, height, back.data()));
    // A packed picture cut short is refused, never read past.
    Bytes spoilt(picture.size());
    EXPECT_FALSE(UnpackPicture(packed.data(), *packedSize - 1, width, height, spoilt.data()));
    return back;
}

TEST(SnapshotPack, PicturesComeBackExactly) {
    std::mt19937 random(3);
    const std::pair<std::uint32_t, std::uint32_t> sizes[] = {{1, 1},  {1, 37},    {37, 1},   {4, 4},
                                                             {17, 9}, {320, 200}, {640, 480}};
    for (auto [width, height] : sizes) {
        const std::size_t pixels = std::size_t{width} * height;
        // Noise over all values, noise over a few, flat, a ramp, a film-like pan, and a
        // picture of one odd pixel: the first stores, the rest code.
        for (int kind = 0; kind < 6; ++kind) {
            SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height) + " kind " +
                         std::to_string(kind));
            Bytes picture(pixels);
            for (std::size_t i = 0; i < pixels; ++i) {
                const std::uint32_t x = static_cast<std::uint32_t>(i % width);
                const std::uint32_t y = static_cast<std::uint32_t>(i / width);
                switch (kind) {
                    case 0:
                        picture[i] = static_cast<std::uint8_t>(random());
                        break;
                    case 1:
                        picture[i] = static_cast<std::uint8_t>(random() % 3 + 200);
                        break;
                    case 2:
                        picture[i] = 17;
                        break;
                    case 3:
                        picture[i] = static_cast<std::uint8_t>(x + y);
                        break;
                    case 4:
                        picture[i] = static_cast<std::uint8_t>((x / 3 ^ y / 5) % 97 + random() % 4);
                        break;
                    default:
                        picture[i] = i == pixels / 2 ? 255 : 0;
                        break;
                }
            }
            std::size_t packedSize = 0;
            EXPECT_EQ(RoundTrip(picture, width, height, &packedSize), picture);
            if (pixels < 64000) continue;
            if (kind == 4) {
                EXPECT_LT(packedSize * 2, pixels);
            } else if (kind >= 2) {
                EXPECT_LT(packedSize * 6, pixels);
            }
        }
    }
}

TEST(SnapshotPack, BytesThatAreNoPackedPictureAreRefused) {
    Bytes picture(64 * 64, 0);
    EXPECT_FALSE(UnpackPicture(nullptr, 0, 64, 64, picture.data()));
    const std::uint8_t unknownForm[] = {7, 0, 0};
    EXPECT_FALSE(UnpackPicture(unknownForm, sizeof unknownForm, 64, 64, picture.data()));
    // Every code length 1: no code can be built from them.
    Bytes lengths(1 + 128 + 16, 0x11);
    lengths[0] = 1;
    EXPECT_FALSE(UnpackPicture(lengths.data(), lengths.size(), 64, 64, picture.data()));
    // A stored picture of the wrong size.
    Bytes stored(1 + 100, 0);
    EXPECT_FALSE(UnpackPicture(stored.data(), stored.size(), 64, 64, picture.data()));
}

}  // namespace
