// SPDX-License-Identifier: MIT
// The one RGB to Y'CbCr conversion of zmbtool's video outputs, so that a Y4M stream and a
// WebM made from the same movie show the same colours.
#pragma once

#include <cstddef>
#include <cstdint>

#include "picture_out.h"

namespace zmbtool {

// Three planes to fill: Y at full resolution, Cb and Cr at full resolution (4:4:4) or at
// half in both directions (4:2:0, Width/2 x Height/2; sizes are even).
struct YuvPlanes {
    std::uint8_t* y = nullptr;
    std::uint8_t* cb = nullptr;
    std::uint8_t* cr = nullptr;
    std::ptrdiff_t yPitch = 0, chromaPitch = 0;
};

// BT.601 matrix, limited range, each chroma sample of 4:2:0 the rounded mean of its 2x2
// pixels (JPEG siting).
void FrameToYuv(const IndexedFrame& frame, bool chroma444, const YuvPlanes& planes);

// The sum of squared differences, over every channel of every pixel, between FRAME's exact
// colours and what its 4:2:0 PLANES show when turned back into RGB (each chroma sample
// over its 2x2 pixels): what 4:2:0 alone costs, before any encoder loses more.
double ChromaLoss420(const IndexedFrame& frame, const YuvPlanes& planes);

}  // namespace zmbtool
