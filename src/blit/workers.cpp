// SPDX-License-Identifier: MIT
// The plain row workers, and the once-per-call choice of the vector ones.
#include "blit/workers.h"

#include <bit>
#include <cstring>

#include "core/mmx.h"

namespace {

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

// Two 16-bit pixels as the 32-bit word that stores them in this order. Built in a register
// and stored whole: pixels stored one by one into a small array and then copied out as one
// wider piece stall the processor, which cannot forward narrow stores to a wide load.
std::uint32_t PixelPair(std::uint16_t first, std::uint16_t second) {
    if constexpr (std::endian::native == std::endian::little)
        return first | std::uint32_t{second} << 16;
    return std::uint32_t{first} << 16 | second;
}
void Store32(std::uint8_t* at, std::uint32_t word) {
    std::memcpy(at, &word, 4);
}

// Four source pixels per step, each written as a doubled 32-bit word. The loops count in
// std::size_t: 32-bit indices would have to wrap, which costs an instruction per address.
void DoubleRow16(const std::uint8_t* s, std::uint8_t* d, std::uint32_t width,
                 const std::uint16_t* colours) {
    const std::size_t steps = width / 4;
    for (std::size_t step = 0; step < steps; ++step, s += 4, d += 16)
        for (std::size_t k = 0; k < 4; ++k) {
            const std::uint16_t c = colours[s[k]];
            Store32(d + 4 * k, PixelPair(c, c));
        }
    for (std::size_t x = 0; x < width % 4; ++x) Store16Pair(d + 4 * x, colours[s[x]]);
}

// One look-up and one 16-bit store a pixel, and nothing more: that is the loop the compiler
// turns into vector code where the target has it. What lets it is the promise that the
// destination never overlaps the colour table, which belongs to the handle and not to any
// caller's buffers; source and destination may still overlap, and the compiler checks that
// at run time, taking the pixel-by-pixel loop when they do.
void CopyRow16(const std::uint8_t* s, std::uint8_t* d, std::size_t width,
               const std::uint16_t* __restrict colours) {
    for (std::size_t x = 0; x < width; ++x) Store16(d + 2 * x, colours[s[x]]);
}

const std::uint8_t* RowAbove(const BlitRows& rows, std::uint32_t r) {
    return r ? SourceRow(rows, r) - rows.srcPitch : SourceRow(rows, r);
}

// One source row of smoothed blocks. The source pixel lands in its block's bottom-right
// corner; the other three corners blend it with the neighbours that meet there, inside the
// rectangle only: the left column stands in for the neighbour it lacks (and the top row for
// the one above, through `above`). The left neighbour is carried from the previous pixel.
void SmoothRow(const std::uint8_t* row, const std::uint8_t* above, std::uint8_t* top,
               std::uint8_t* bottom, std::uint32_t width, const std::uint8_t* smooth) {
    std::size_t left = row[0];
    for (std::size_t x = 0; x < width; ++x) {
        const std::size_t p = row[x], up = above[x];
        const std::uint8_t* blends = smooth + p * 256;
        top[2 * x] = smooth[left * 256 + up];
        top[2 * x + 1] = blends[up];
        bottom[2 * x] = blends[left];
        bottom[2 * x + 1] = static_cast<std::uint8_t>(p);
        left = p;
    }
}

void SmoothRow(const std::uint8_t* row, const std::uint8_t* above, std::uint8_t* top,
               std::uint8_t* bottom, std::uint32_t width, const std::uint16_t* smooth) {
    std::size_t left = row[0];
    for (std::size_t x = 0; x < width; ++x) {
        const std::size_t p = row[x], up = above[x];
        const std::uint16_t* blends = smooth + p * 256;
        Store32(top + 4 * x, PixelPair(smooth[left * 256 + up], blends[up]));
        Store32(bottom + 4 * x, PixelPair(blends[left], blends[p]));
        left = p;
    }
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

// The second row is the first one again: copying it saves the look-ups. memmove gives the
// bytes writing it afresh would give even where a short pitch makes the two rows overlap.
void plain::Double16(const BlitRows& rows, const std::uint16_t* colours, bool secondRow) {
    for (std::uint32_t r = 0; r < rows.height; ++r) {
        std::uint8_t* d = DestRow(rows, r);
        DoubleRow16(SourceRow(rows, r), d, rows.width, colours);
        if (secondRow) std::memmove(d + rows.destPitch, d, 4 * std::size_t{rows.width});
    }
}

void BlitDouble8(const BlitRows& rows) {
    VectorChosen() ? vector::Double8(rows, true) : plain::Double8(rows, true);
}
void BlitInterlace8(const BlitRows& rows) {
    VectorChosen() ? vector::Double8(rows, false) : plain::Double8(rows, false);
}
namespace {

// The look-up workers' three forms, the widest the processor allows first.
void Double16(const BlitRows& rows, const std::uint16_t* colours, bool secondRow) {
    if (!VectorChosen()) return plain::Double16(rows, colours, secondRow);
    if (avx512::Available()) return avx512::Double16(rows, colours, secondRow);
    vector::Double16(rows, colours, secondRow);
}

}  // namespace

void BlitDouble16(const BlitRows& rows, const std::uint16_t* colours) {
    Double16(rows, colours, true);
}
void BlitInterlace16(const BlitRows& rows, const std::uint16_t* colours) {
    Double16(rows, colours, false);
}

void plain::Copy16(const BlitRows& rows, const std::uint16_t* colours) {
    // Rows that follow each other in both buffers, a whole picture into a screen as wide as
    // it, are one long row: the loop's start and its overlap check are paid once.
    const std::ptrdiff_t width = rows.width;
    if (rows.height > 1 && rows.srcPitch == width && rows.destStep == 2 * width)
        return CopyRow16(rows.src, rows.dest, std::size_t{rows.width} * rows.height, colours);
    for (std::uint32_t r = 0; r < rows.height; ++r)
        CopyRow16(SourceRow(rows, r), DestRow(rows, r), rows.width, colours);
}

void BlitCopy16(const BlitRows& rows, const std::uint16_t* colours) {
    if (!VectorChosen()) return plain::Copy16(rows, colours);
    if (avx512::Available()) return avx512::Copy16(rows, colours);
    vector::Copy16(rows, colours);
}

namespace {

// Each source row fills the two destination rows its blocks land on.
template <typename Blend>
void SmoothRows(const BlitRows& rows, const Blend* smooth) {
    for (std::uint32_t r = 0; r < rows.height; ++r) {
        std::uint8_t* top = DestRow(rows, r);
        SmoothRow(SourceRow(rows, r), RowAbove(rows, r), top, top + rows.destPitch, rows.width,
                  smooth);
    }
}

}  // namespace

void BlitSmooth8(const BlitRows& rows, const std::uint8_t* smooth) {
    SmoothRows(rows, smooth);
}

void BlitSmooth16(const BlitRows& rows, const std::uint16_t* smooth) {
    SmoothRows(rows, smooth);
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
