// SPDX-License-Identifier: MIT
// zmbtool's PNG files out, indexed or RGB, through libpng.
#pragma once

#include <cstdint>
#include <string>

namespace zmbtool {

// Both writers write through zmbtool's output rules: a file is either a whole PNG or
// untouched, and a stream gets the PNG in place.
bool WriteIndexedPng(const std::string& path, std::uint32_t width, std::uint32_t height,
                     const std::uint8_t* pixels, const std::uint8_t* palette, std::string* error);
// `rgb` holds width x height x 3 bytes, red, green, blue per pixel.
bool WriteRgbPng(const std::string& path, std::uint32_t width, std::uint32_t height,
                 const std::uint8_t* rgb, std::string* error);

}  // namespace zmbtool
