// SPDX-License-Identifier: MIT
// zmbtool encode's pictures as files give them: indexed, greyscale or truecolour PNGs, with
// or without transparency, read without losing a palette value.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zmbtool {

// Larger pictures than this are no movie frames; refusing them early keeps a hostile
// header from asking for gigabytes.
inline constexpr std::uint32_t kLargestPngSide = 16384;

struct SourcePicture {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    // Indexed: one palette index per pixel with `palette` and `alpha`. Otherwise red, green,
    // blue, alpha per pixel (greyscale and 16-bit files are widened or narrowed to that).
    bool indexed = false;
    std::vector<std::uint8_t> pixels;
    std::array<std::uint8_t, 768> palette{};  // entries the file does not define are black
    std::array<std::uint8_t, 256> alpha{};    // per palette entry, 255 = opaque
    bool translucent = false;                 // some pixel (or used entry) is not opaque
};

// Reads any PNG. Fails with one line that names the file.
bool ReadSourcePng(const std::string& path, SourcePicture* picture, std::string* error);

// Composites a translucent picture onto `background` (0xRRGGBB): pixels of truecolour
// pictures, palette entries of indexed ones. Afterwards the picture is opaque.
void CompositeOnto(SourcePicture& picture, std::uint32_t background);

// Pads (with `background`, or for an indexed picture with its palette entry nearest to it)
// or crops a picture on its right and bottom to `width` x `height`.
void FitPicture(SourcePicture& picture, std::uint32_t width, std::uint32_t height,
                std::uint32_t background);

// Keeps every other row, from the first: with `average`, a truecolour picture's rows are
// the means of each pair (an indexed one keeps the upper row, as indices have no mean).
// The height must be even.
void HalveRows(SourcePicture& picture, bool average);

}  // namespace zmbtool
