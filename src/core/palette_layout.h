// SPDX-License-Identifier: MIT
// Where red, green and blue sit in one entry of a caller's palette, for each palette type;
// the blitter reads palettes this way and so does the decoder's colour remap.
#pragma once

#include <cstdint>
#include <utility>

#include "zambrel/blit.h"

// Byte offsets within an entry, and the distance from one entry to the next.
struct PaletteLayout {
    std::uint32_t stride, red, green, blue;
};

// The bits apply in a fixed order: entry size and padding, then the swap, then the width.
inline PaletteLayout PaletteLayoutOf(std::uint32_t paletteType) {
    PaletteLayout layout{3, 0, 1, 2};
    if (paletteType & ZAMBPAL_4BYTE) {
        layout.stride = 4;
        if (paletteType & ZAMBPAL_PAD_FIRST) layout = {4, 1, 2, 3};
    }
    if (paletteType & ZAMBPAL_BGR) std::swap(layout.red, layout.blue);
    if (paletteType & ZAMBPAL_WIDE) {
        layout = {2 * layout.stride, 2 * layout.red, 2 * layout.green, 2 * layout.blue};
    }
    return layout;
}
