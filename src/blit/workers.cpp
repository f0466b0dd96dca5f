// SPDX-License-Identifier: MIT
// The plain row workers, and the once-per-call choice of the vector ones.
#include "blit/workers.h"

#include <cstring>

#include "core/mmx.h"

namespace {

const std::uint8_t* SourceRow(const BlitRows& rows, std::uint32_t r) {
    return rows.src + static_cast<std::ptrdiff_t>(r) * rows.srcPitch;
}
std::uint8_t* DestRow(const BlitRows& rows, std::uint32_t r) {
    return rows.dest + static_cast<std::ptrdiff_t>(r) * rows.destStep;
}

bool VectorChosen() {
    return BlitHasVectorWorkers() && MmxPathChosen();
}

// Four source pixels per step, each written twice.
void DoubleRow8(const std::uint8_t* s, std::uint8_t* d, std::uint32_t width) {
    std::uint32_t x = 0;
    for (; x + 4 <= width; x += 4) {
        const std::uint8_t out[8] = {s[x],     s[x],     s[x + 1], s[x + 1],
                                     s[x + 2], s[x + 2], s[x + 3], s[x + 3]};
        std::memcpy(d + 2 * x, out, 8);
    }
    for (; x < width; ++x) d[2 * x] = d[2 * x + 1] = s[x];
}

void DoubleRow16(const std::uint8_t* s, std::uint8_t* d, std::uint32_t width,
                 const std::uint16_t* colours) {
    std::uint32_t x = 0;
    for (; x + 4 <= width; x += 4) {
        const std::uint16_t out[8] = {colours[s[x]],     colours[s[x]],     colours[s[x + 1]],
                                      colours[s[x + 1]], colours[s[x + 2]], colours[s[x + 2]],
                                      colours[s[x + 3]], colours[s[x + 3]]};
        std::memcpy(d + 4 * x, out, 16);
    }
    for (; x < width; ++x) Store16Pair(d + 4 * x, colours[s[x]]);
}

void CopyRow16(const std::uint8_t* s, std::uint8_t* d, std::uint32_t width,
               const std::uint16_t* colours) {
    std::uint32_t x = 0;
    for (; x + 4 <= width; x += 4) {
        const std::uint16_t out[4] = {colours[s[x]], colours[s[x + 1]], colours[s[x + 2]],
                                      colours[s[x + 3]]};
        std::memcpy(d + 2 * x, out, 8);
    }
    for (; x < width; ++x) Store16(d + 2 * x, colours[s[x]]);
}

// The neighbours a smoothed block blends with, inside the rectangle only: a pixel on the
// top row or left column stands in for the neighbour it lacks.
struct Neighbours {
    std::uint32_t p, left, up;
};
Neighbours NeighboursAt(const std::uint8_t* row, const std::uint8_t* above, std::uint32_t x) {
    return {row[x], x ? row[x - 1] : row[x], above[x]};
}
const std::uint8_t* RowAbove(const BlitRows& rows, std::uint32_t r) {
    return r ? SourceRow(rows, r) - rows.srcPitch : SourceRow(rows, r);
}

}  // namespace

void BlitCopy8(const BlitRows& rows) {
    // memmove: a buffer-to-buffer copy may have the same buffer on both sides.
    for (std::uint32_t r = 0; r < rows.height; ++r)
        std::memmove(DestRow(rows, r), SourceRow(rows, r), rows.width);
}

void plain::Double8(const BlitRows& rows, bool secondRow) {
    for (std::uint32_t r = 0; r < rows.height; ++r) {
        std::uint8_t* d = DestRow(rows, r);
        DoubleRow8(SourceRow(rows, r), d, rows.width);
        if (secondRow) DoubleRow8(SourceRow(rows, r), d + rows.destPitch, rows.width);
    }
}

void plain::Double16(const BlitRows& rows, const std::uint16_t* colours, bool secondRow) {
    for (std::uint32_t r = 0; r < rows.height; ++r) {
        std::uint8_t* d = DestRow(rows, r);
        DoubleRow16(SourceRow(rows, r), d, rows.width, colours);
        if (secondRow) DoubleRow16(SourceRow(rows, r), d + rows.destPitch, rows.width, colours);
    }
}

void BlitDouble8(const BlitRows& rows) {
    VectorChosen() ? vector::Double8(rows, true) : plain::Double8(rows, true);
}
void BlitInterlace8(const BlitRows& rows) {
    VectorChosen() ? vector::Double8(rows, false) : plain::Double8(rows, false);
}
void BlitDouble16(const BlitRows& rows, const std::uint16_t* colours) {
    VectorChosen() ? vector::Double16(rows, colours, true) : plain::Double16(rows, colours, true);
}
void BlitInterlace16(const BlitRows& rows, const std::uint16_t* colours) {
    VectorChosen() ? vector::Double16(rows, colours, false) : plain::Double16(rows, colours, false);
}

void BlitCopy16(const BlitRows& rows, const std::uint16_t* colours) {
    for (std::uint32_t r = 0; r < rows.height; ++r)
        CopyRow16(SourceRow(rows, r), DestRow(rows, r), rows.width, colours);
}

// Walks the source pixels with the neighbours each one blends with, handing WRITE the two
// destination rows its 2x2 block lands on.
template <typename WriteBlock>
void ForEachSmoothBlock(const BlitRows& rows, WriteBlock write) {
    for (std::uint32_t r = 0; r < rows.height; ++r) {
        const std::uint8_t* row = SourceRow(rows, r);
        const std::uint8_t* above = RowAbove(rows, r);
        std::uint8_t* top = DestRow(rows, r);
        std::uint8_t* bottom = top + rows.destPitch;
        for (std::uint32_t x = 0; x < rows.width; ++x)
            write(top, bottom, x, NeighboursAt(row, above, x));
    }
}

// The source pixel lands in its block's bottom-right corner; the other three corners
// blend it with the neighbours that meet there.
void BlitSmooth8(const BlitRows& rows, const std::uint8_t* smooth) {
    ForEachSmoothBlock(rows, [smooth](std::uint8_t* top, std::uint8_t* bottom, std::uint32_t x,
                                      const Neighbours& n) {
        top[2 * x] = smooth[n.left * 256 + n.up];
        top[2 * x + 1] = smooth[n.p * 256 + n.up];
        bottom[2 * x] = smooth[n.p * 256 + n.left];
        bottom[2 * x + 1] = static_cast<std::uint8_t>(n.p);
    });
}

void BlitSmooth16(const BlitRows& rows, const std::uint16_t* smooth) {
    ForEachSmoothBlock(rows, [smooth](std::uint8_t* top, std::uint8_t* bottom, std::uint32_t x,
                                      const Neighbours& n) {
        const std::uint16_t upper[2] = {smooth[n.left * 256 + n.up], smooth[n.p * 256 + n.up]};
        const std::uint16_t lower[2] = {smooth[n.p * 256 + n.left], smooth[n.p * 257]};
        std::memcpy(top + 4 * x, upper, 4);
        std::memcpy(bottom + 4 * x, lower, 4);
    });
}

void plain::TransCore(const KeyRows& k) {
    for (std::uint32_t r = 0; r < k.rows.height; ++r) {
        const std::uint8_t* s = SourceRow(k.rows, r);
        std::uint8_t* d = DestRow(k.rows, r);
        for (std::uint32_t x = 0; x < k.rows.width; ++x) TransPixel(d[x], s[x], k.key);
    }
}

void plain::MaskCore(const KeyRows& k) {
    for (std::uint32_t r = 0; r < k.rows.height; ++r) {
        const std::uint8_t* s = SourceRow(k.rows, r);
        const std::uint8_t* m = k.side + static_cast<std::ptrdiff_t>(r) * k.rows.srcPitch;
        std::uint8_t* d = DestRow(k.rows, r);
        for (std::uint32_t x = 0; x < k.rows.width; ++x) MaskPixel(d[x], s[x], m[x], k.key);
    }
}

void plain::MergeCore(const KeyRows& k) {
    for (std::uint32_t r = 0; r < k.rows.height; ++r) {
        const std::uint8_t* s = SourceRow(k.rows, r);
        const std::uint8_t* m = k.side + static_cast<std::ptrdiff_t>(r) * k.rows.srcPitch;
        std::uint8_t* d = DestRow(k.rows, r);
        for (std::uint32_t x = 0; x < k.rows.width; ++x) MergePixel(d[x], s[x], m[x], k.key);
    }
}

// Rows narrower than one vector step gain nothing from the vector form.
void BlitTransCore(const KeyRows& rows) {
    rows.rows.width >= 8 && VectorChosen() ? vector::TransCore(rows) : plain::TransCore(rows);
}
void BlitMaskCore(const KeyRows& rows) {
    rows.rows.width >= 8 && VectorChosen() ? vector::MaskCore(rows) : plain::MaskCore(rows);
}
void BlitMergeCore(const KeyRows& rows) {
    rows.rows.width >= 8 && VectorChosen() ? vector::MergeCore(rows) : plain::MergeCore(rows);
}
