// SPDX-License-Identifier: MIT
// The writer's quality setting: pictures simplified, block by block, as far as an error
// budget allows, so that the lossless coder then finds skipped, solid and two-colour blocks.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "encoder/palette_chunk.h"
#include "encoder/writer.h"

namespace zambrel::encoder {

// Simplifies pictures one after the other, each against the one shown before it. Each block
// of a picture becomes, in this order of preference, the block on screen before it (never for
// the first picture, where a movie may start again), one colour, or two colours of its own,
// whichever first stays within `budget` (the sum over the block's 16 pixels of the squared
// differences of red, green and blue as shown, through the picture's levels); otherwise it is
// kept as it is.
class Simplifier {
  public:
    Simplifier(std::uint32_t width, std::uint32_t height, std::uint32_t budget);
    ~Simplifier();
    Simplifier(const Simplifier&) = delete;
    Simplifier& operator=(const Simplifier&) = delete;

    // `wanted` and `shown` hold width x height pixels; `onScreen` is what the previous
    // picture was shown as, or null for the first picture.
    void Simplify(const std::uint8_t* wanted, const Levels& levels, const std::uint8_t* onScreen,
                  std::uint8_t* shown);
    // Entries no simplified block may be shown in.
    void Reserve(const std::array<bool, 256>& reserved);
    // The budget of the pictures simplified from now on.
    void SetBudget(std::uint32_t budget) { budget_ = budget; }
    // Threads a picture's blocks may be shared over; each block's outcome is the same.
    void SetThreads(unsigned threads) { threads_ = threads; }

    class Distances;  // lossy.cpp's alone

  private:
    void SimplifyRows(const std::uint8_t* wanted, const std::uint8_t* onScreen, std::uint8_t* shown,
                      std::uint32_t firstRow, std::uint32_t endRow);

    std::uint32_t width_, height_, budget_;
    unsigned threads_ = 1;
    std::unique_ptr<Distances> distances_;
};

}  // namespace zambrel::encoder
