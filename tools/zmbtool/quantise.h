// SPDX-License-Identifier: MIT
// zmbtool encode's colour reduction: truecolour pictures to 256 palette entries on the
// movie's 64 levels per channel, through libimagequant when zmbtool is built with it.
#pragma once

#include <array>
#include <cstddef>
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
    // Foresee will be called: each new scene palette keeps the picture it was made from,
    // and Add and Pass say when each picture has had its turn.
    bool foresee = false;
};

// Whether this zmbtool can reduce truecolour pictures at all.
bool QuantiserAvailable();

// A picture reduced ahead of its turn with the newest scene palette, on any thread. Add keeps
// it when that palette is still the one in force once the picture's turn comes, which it is
// unless a picture between made a new one; otherwise Add reduces the picture itself, so the
// pictures come out the same either way.
struct Foreseen {
    std::uint64_t palette = 0;  // which palette it was made with; 0: none was to be had
    double error = 0;           // its ShownError
    zambrel::encoder::Picture picture;
    // Its turn came while it was ahead, so it was reduced in order on that thread: Add
    // hands out `picture`, or the failure.
    bool reduced = false, ok = false;
};

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
    // Reduces the next picture, using `ahead` when it still holds.
    bool Add(std::uint32_t width, std::uint32_t height, const std::vector<std::uint8_t>& rgba,
             zambrel::encoder::Picture* out, std::string* error, Foreseen* ahead = nullptr);
    // A picture that needs no reduction (an indexed one) has had its turn.
    void Pass();

    // With `foresee` set: makes `ahead` for the `index`-th picture in playing order
    // (pictures that went to Pass counted) with the newest scene palette, or reduces the
    // picture in its turn, on this thread, when that comes first or when reducing ahead does
    // not pay (one movie palette; scenes of a few pictures). Runs on any number of threads at
    // once, beside Add; each keeps a copy of the newest palette, made again from the picture
    // that gave it, so a new palette costs its making once more on each thread.
    void Foresee(std::size_t index, std::uint32_t width, std::uint32_t height,
                 const std::vector<std::uint8_t>& rgba, Foreseen* ahead);
    // Ends every wait in Foresee, for a run that stops before its pictures' turns.
    void StopForeseeing();

    struct State;  // the library's objects and the palette in force; quantise.cpp's alone

  private:
    std::unique_ptr<State> state_;
};

}  // namespace zmbtool
