// SPDX-License-Identifier: MIT
// Palette chunks: the keep, copy and set commands that turn one palette into the next.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "encoder/writer.h"

namespace zambrel::encoder {

// 256 entries of red, green, blue as 6-bit levels, the way the movie stores them.
using Levels = std::array<std::uint8_t, kPaletteBytes>;

// The levels of an 8-bit palette. With PaletteValues::Exact a value that is no widened level
// fails (false, with the entry and component named in `error`).
bool PaletteToLevels(const std::array<std::uint8_t, kPaletteBytes>& palette, PaletteValues mode,
                     Levels& levels, std::string& error);

// The whole chunk, its length byte first, padded to a multiple of 4 bytes.
std::vector<std::uint8_t> BuildPaletteChunk(const Levels& previous, const Levels& next);

}  // namespace zambrel::encoder
