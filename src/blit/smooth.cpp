// SPDX-License-Identifier: MIT
// The smoothing tables: for every pair of palette indices, the colour between them.
#include <algorithm>
#include <cstdint>

#include "blit/handle.h"

namespace {

using PackFunction = std::uint16_t (*)(std::uint32_t, std::uint32_t, std::uint32_t);

// Each component's low bit is dropped before adding, so the sum never carries into the
// next component once packed.
void BuildSmoothTable16(const std::uint8_t* palette, std::uint16_t* table, PackFunction pack) {
    for (int a = 0; a < 256; ++a) {
        const std::uint8_t* ca = palette + a * 3;
        for (int b = 0; b < 256; ++b) {
            const std::uint8_t* cb = palette + b * 3;
            table[a * 256 + b] = pack((ca[0] >> 1) + (cb[0] >> 1), (ca[1] >> 1) + (cb[1] >> 1),
                                      (ca[2] >> 1) + (cb[2] >> 1));
        }
    }
}

// The palette in order of rising red, equal reds by rising index, so that a search can
// stop once red alone puts every later colour further away than the best so far.
struct SearchOrder {
    int red[256], green[256], blue[256];
    std::uint8_t index[256];
};

SearchOrder SortByRed(const std::uint8_t* palette) {
    std::uint16_t keys[256];
    for (int i = 0; i < 256; ++i) keys[i] = static_cast<std::uint16_t>(palette[i * 3] * 256 + i);
    std::sort(keys, keys + 256);
    SearchOrder order;
    for (int k = 0; k < 256; ++k) {
        const int i = keys[k] & 0xFF;
        order.index[k] = static_cast<std::uint8_t>(i);
        order.red[k] = palette[i * 3];
        order.green[k] = palette[i * 3 + 1];
        order.blue[k] = palette[i * 3 + 2];
    }
    return order;
}

// Only a strictly nearer colour replaces the answer, so a tie goes to the colour first in
// the search order.
std::uint8_t NearestIndex(const SearchOrder& order, int red, int green, int blue) {
    int best = 0x40000;  // beyond the largest distance, 3 x 255 x 255
    std::uint8_t answer = 0;
    for (int k = 0; k < 256; ++k) {
        const int dr = red - order.red[k];
        const int dr2 = dr * dr;
        if (dr2 < best) {
            const int dg = green - order.green[k];
            const int db = blue - order.blue[k];
            const int distance = dr2 + dg * dg + db * db;
            if (distance < best) {
                best = distance;
                answer = order.index[k];
            }
        } else if (order.red[k] >= red) {
            break;
        }
    }
    return answer;
}

}  // namespace

void BuildSmoothTable555(const std::uint8_t* palette, std::uint16_t* table) {
    BuildSmoothTable16(palette, table, PackRgb555);
}

void BuildSmoothTable565(const std::uint8_t* palette, std::uint16_t* table) {
    BuildSmoothTable16(palette, table, PackRgb565);
}

// Searches only the upper triangle; the table is symmetric, and a colour blended with
// itself is that index even where another index holds the same colour.
void BuildSmoothTable8(const std::uint8_t* palette, std::uint8_t* table) {
    const SearchOrder order = SortByRed(palette);
    for (int a = 0; a < 255; ++a) {
        const std::uint8_t* ca = palette + a * 3;
        for (int b = a + 1; b < 256; ++b) {
            const std::uint8_t* cb = palette + b * 3;
            table[a * 256 + b] = NearestIndex(order, (ca[0] + cb[0]) >> 1, (ca[1] + cb[1]) >> 1,
                                              (ca[2] + cb[2]) >> 1);
        }
    }
    for (int i = 0; i < 256; ++i) table[i * 256 + i] = static_cast<std::uint8_t>(i);
    for (int a = 0; a < 255; ++a)
        for (int b = a + 1; b < 256; ++b) table[b * 256 + a] = table[a * 256 + b];
}
