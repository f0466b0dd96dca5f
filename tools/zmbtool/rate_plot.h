// SPDX-License-Identifier: MIT
// A picture of a movie's data rate, for makers who look at a rate rather than read it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zmbtool {

struct RatePlot {
    std::vector<std::uint32_t> frameSizes;  // every stored frame, in order
    std::uint32_t framesPerSecond = 1;      // as the players count a second
    std::uint64_t cap = 0;                  // drawn as a line; 0 = none
};

// The scale the plot is drawn to: bytes a second at its top edge and between grid lines.
struct PlotScale {
    std::uint64_t top = 0, step = 0;
};

// Draws, left to right over the frames, each frame's bytes as a second's worth of frames of
// its size (pale bars), the bytes of the second starting at each frame where the players
// count it (a dark line), and
// the cap (a red line), over grid lines at round numbers; writes it to `path` as a PNG
// through zmbtool's output rules.
bool WriteRatePlot(const RatePlot& plot, const std::string& path, PlotScale* scale,
                   std::string* error);

}  // namespace zmbtool
