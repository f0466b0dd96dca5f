// SPDX-License-Identifier: MIT
// The row workers behind every blit. Each worker with a vector twin chooses between the
// two once per call; both write exactly the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// A rectangle of rows to walk: row r of the source starts at src + r * srcPitch and its
// destination row (or first of two) at dest + r * destStep. Pitches are signed, so
// bottom-up buffers walk upwards in memory.
struct BlitRows {
    const std::uint8_t* src;
    std::ptrdiff_t srcPitch;
    std::uint8_t* dest;
    std::ptrdiff_t destPitch;  // from a row to the one below it
    std::ptrdiff_t destStep;   // from one source row's output to the next
    std::uint32_t width;
    std::uint32_t height;
};

// Where row r of the source starts, and its output in the destination.
inline const std::uint8_t* SourceRow(const BlitRows& rows, std::uint32_t r) {
    return rows.src + static_cast<std::ptrdiff_t>(r) * rows.srcPitch;
}
inline std::uint8_t* DestRow(const BlitRows& rows, std::uint32_t r) {
    return rows.dest + static_cast<std::ptrdiff_t>(r) * rows.destStep;
}

// The third buffer of the key-colour workers: the mask or merge pixels, walked with the
// source's pitch.
struct KeyRows {
    BlitRows rows;
    const std::uint8_t* side;
    std::uint8_t key;
};

// SSE2 is part of every x86-64 processor; 32-bit builds have it only when asked for.
#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define ZAMBBLIT_SSE2 1
#else
#define ZAMBBLIT_SSE2 0
#endif

// The 512-bit workers are compiled into every x86 build whose compiler can target them
// function by function, and run only where the processor has them.
#if ZAMBBLIT_SSE2 && defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define ZAMBBLIT_AVX512 1
#else
#define ZAMBBLIT_AVX512 0
#endif

// True when this build has vector workers; without them the plain ones always run.
bool BlitHasVectorWorkers();

void BlitCopy8(const BlitRows& rows);
void BlitDouble8(const BlitRows& rows);
void BlitInterlace8(const BlitRows& rows);
void BlitSmooth8(const BlitRows& rows, const std::uint8_t* smooth);
void BlitCopy16(const BlitRows& rows, const std::uint16_t* colours);
void BlitDouble16(const BlitRows& rows, const std::uint16_t* colours);
void BlitInterlace16(const BlitRows& rows, const std::uint16_t* colours);
void BlitSmooth16(const BlitRows& rows, const std::uint16_t* smooth);
void BlitTransCore(const KeyRows& rows);
void BlitMaskCore(const KeyRows& rows);
void BlitMergeCore(const KeyRows& rows);

// The two forms of the workers that have both, for the dispatch above and for tests and
// benchmarks that compare them directly. Interlacing is doubling with one row per source
// row, so it shares the doubling workers.
namespace plain {
void Copy16(const BlitRows& rows, const std::uint16_t* colours);
void Double8(const BlitRows& rows, bool secondRow);
void Double16(const BlitRows& rows, const std::uint16_t* colours, bool secondRow);
void TransCore(const KeyRows& rows);
void MaskCore(const KeyRows& rows);
void MergeCore(const KeyRows& rows);
}  // namespace plain

namespace vector {
void Copy16(const BlitRows& rows, const std::uint16_t* colours);
void Double8(const BlitRows& rows, bool secondRow);
void Double16(const BlitRows& rows, const std::uint16_t* colours, bool secondRow);
void TransCore(const KeyRows& rows);
void MaskCore(const KeyRows& rows);
void MergeCore(const KeyRows& rows);
}  // namespace vector

// The colour look-up workers by 512-bit byte permutes: the vector path's choice for them on
// processors that have those, checked once per process.
namespace avx512 {
bool Available();
void Copy16(const BlitRows& rows, const std::uint16_t* colours);
void Double16(const BlitRows& rows, const std::uint16_t* colours, bool secondRow);
}  // namespace avx512

// The per-pixel rules of the key-colour workers, which the vector forms also use for the
// pixels left over after their last full step. The plain rules leave d alone where the
// picture keeps it.
inline void TransPixel(std::uint8_t& d, std::uint8_t s, std::uint8_t key) {
    if (s != key) d = s;
}
inline void MaskPixel(std::uint8_t& d, std::uint8_t s, std::uint8_t m, std::uint8_t key) {
    if (m != key) d = s;
}
inline void MergePixel(std::uint8_t& d, std::uint8_t s, std::uint8_t m, std::uint8_t key) {
    d = s == key ? m : s;
}

inline void Store16(std::uint8_t* at, std::uint16_t pixel) {
    std::memcpy(at, &pixel, 2);
}
inline void Store16Pair(std::uint8_t* at, std::uint16_t pixel) {
    const std::uint16_t pair[2] = {pixel, pixel};
    std::memcpy(at, pair, 4);
}
