// SPDX-License-Identifier: MIT
// zmbtool encode's colour reduction: truecolour pictures to 256 palette entries on the
// movie's 64 levels per channel, through libimagequant when zmbtool is built with it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "encoder/writer.h"

namespace zmbtool {

// Movie: one palette for all truecolour pictures (made from all of them before any is reduced).
// Scene: a picture keeps the palette before it while that palette still serves it nearly as
// well as when it was made, so still areas keep their indices and the palette chunk costs
// nothing; otherwise a new palette is made, with the entries it shares with the old one left
// in their places.
enum class PaletteMode { Movie, Scene };

struct QuantiseOptions {
    PaletteMode mode = PaletteMode::Scene;
    bool dither = false;  // off keeps still areas the same indices, so their blocks skip
    // Entries the pictures may not use: kept for the program the movie plays in.
    std::array<bool, 256> reserved{};
};

// Whether this zmbtool can reduce truecolour pictures at all.
bool QuantiserAvailable();

// Takes red, green, blue, alpha pictures (opaque) in playing order and gives each its
// indices and palette (palette values are widened levels). With PaletteMode::Movie every
// picture goes to Survey first, all in playing order, and then to Add in the same order, so
// that no picture need wait in memory for the palette.
class Quantiser {
  public:
    explicit Quantiser(const QuantiseOptions& options);
    ~Quantiser();
    Quantiser(const Quantiser&) = delete;
    Quantiser& operator=(const Quantiser&) = delete;

    // PaletteMode::Movie only: gathers the picture's colours for the movie palette.
    void Survey(std::uint32_t width, std::uint32_t height, const std::vector<std::uint8_t>& rgba);
    // Reduces the next picture.
    bool Add(std::uint32_t width, std::uint32_t height, const std::vector<std::uint8_t>& rgba,
             zambrel::encoder::Picture* out, std::string* error);

    struct State;  // the library's objects and the palette in force; quantise.cpp's alone

  private:
    std::unique_ptr<State> state_;
};

}  // namespace zmbtool
