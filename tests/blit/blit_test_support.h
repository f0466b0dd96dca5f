// SPDX-License-Identifier: MIT
// What the blitter tests share: palettes, the sound-service counter, the vector switch.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "blit/handle.h"
#include "core/mmx.h"

// Counts the library's calls of ZambServiceSound in this test program.
extern int serviceSoundCalls;

inline std::vector<std::uint8_t> RandomPalette(std::uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> rgb(768);
    for (auto& component : rgb) component = static_cast<std::uint8_t>(random());
    return rgb;
}

// Opens a handle and gives it the palette (3-byte red, green, blue entries).
inline ZambBlitHandle* OpenWithPalette(std::uint32_t flags, const std::vector<std::uint8_t>& rgb) {
    ZambBlitHandle* handle = ZambBlitOpen(flags);
    if (handle && handle->palette) ZambBlitSetPalette(handle, rgb.data(), 0);
    return handle;
}

// Chooses the plain or the vector paths for the rest of the scope, then allows them again.
class PathChoice {
  public:
    explicit PathChoice(bool vector) : inUse_(ZambUseMmx(vector ? 1 : 0) == 1) {}
    ~PathChoice() { ZambUseMmx(1); }
    bool VectorInUse() const { return inUse_; }

  private:
    bool inUse_;
};
