// SPDX-License-Identifier: MIT
// zmbtool's PNG files: indexed pictures in and out, RGB pictures out, all through libpng.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace zmbtool {

// Larger pictures than this are no movie frames; refusing them early keeps a hostile
// header from asking for gigabytes.
inline constexpr std::uint32_t kLargestPngSide = 16384;

// A picture as the movie writer takes it: one palette index per pixel, top row first, and
// 256 palette entries of red, green, blue (entries a file does not define are black).
struct IndexedPicture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint8_t> pixels;
    std::array<std::uint8_t, 768> palette{};
};

// Reads a palette PNG of any bit depth. Any other colour type is refused, with an error that
// names it (a truecolour picture would need quantising, which zmbtool does not do).
bool ReadIndexedPng(const std::string& path, IndexedPicture* picture, std::string* error);

// Both writers write through zmbtool's output rules: a file is either a whole PNG or
// untouched, and a stream gets the PNG in place.
bool WriteIndexedPng(const std::string& path, std::uint32_t width, std::uint32_t height,
                     const std::uint8_t* pixels, const std::uint8_t* palette, std::string* error);
// `rgb` holds width x height x 3 bytes, red, green, blue per pixel.
bool WriteRgbPng(const std::string& path, std::uint32_t width, std::uint32_t height,
                 const std::uint8_t* rgb, std::string* error);

}  // namespace zmbtool
