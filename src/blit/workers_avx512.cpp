// SPDX-License-Identifier: MIT
// The colour look-up workers for processors with 512-bit byte permutes, chosen at run time.
//
// Every 16-bit blit is a look-up of a 256-entry colour table per pixel. Without a vector
// look-up each pixel costs a load from the table and an insert into a register, about one
// pixel a cycle however the loop is written. With byte permutes over two registers the
// table's low and high bytes, 256 each, fit in eight registers, and sixty-four pixels are
// looked up by a handful of instructions: the blit becomes bound by memory instead.
#include "blit/workers.h"

#if ZAMBBLIT_AVX512
#include <immintrin.h>

#define ZAMB_AVX512_CODE __attribute__((target("avx512f,avx512bw,avx512vbmi")))

namespace {

constexpr std::uint32_t kStep = 64;  // source pixels a step

// One byte of each colour, the table's 256 bytes as four registers of 64.
struct ByteTable {
    __m512i quarter[4];
};

// The colour table split into its low and its high bytes, as byte permutes look them up.
struct ColourBytes {
    ByteTable low, high;
};

// Byte `half` (0 low, 1 high) of 64 colours: bytes 2i + half of the 128 they take.
ZAMB_AVX512_CODE __m512i ByteOf64(const std::uint16_t* colours, int half) {
    alignas(64) std::uint8_t picks[64];
    for (int i = 0; i < 64; ++i) picks[i] = static_cast<std::uint8_t>(2 * i + half);
    return _mm512_permutex2var_epi8(_mm512_loadu_si512(colours), _mm512_load_si512(picks),
                                    _mm512_loadu_si512(colours + 32));
}

ZAMB_AVX512_CODE ColourBytes SplitColours(const std::uint16_t* colours) {
    ColourBytes bytes;
    for (int q = 0; q < 4; ++q) {
        bytes.low.quarter[q] = ByteOf64(colours + 64 * q, 0);
        bytes.high.quarter[q] = ByteOf64(colours + 64 * q, 1);
    }
    return bytes;
}

// Each permute looks up the indices' low seven bits in 128 table bytes; the indices' top
// bit picks which half of the table answers.
ZAMB_AVX512_CODE __m512i LookUpBytes(const ByteTable& table, __m512i indices, __mmask64 upper) {
    const __m512i lower = _mm512_permutex2var_epi8(table.quarter[0], indices, table.quarter[1]);
    const __m512i higher = _mm512_permutex2var_epi8(table.quarter[2], indices, table.quarter[3]);
    return _mm512_mask_blend_epi8(upper, lower, higher);
}

// The colours of 64 pixels in order, 32 in each half.
struct Colours64 {
    __m512i first, second;
};

ZAMB_AVX512_CODE Colours64 LookUp64(const ColourBytes& table, __m512i indices) {
    const __mmask64 upper = _mm512_movepi8_mask(indices);
    const __m512i low = LookUpBytes(table.low, indices, upper);
    const __m512i high = LookUpBytes(table.high, indices, upper);
    // Interleaving works within each 128-bit lane: lane k of `even` holds pixels 16k to
    // 16k+7, of `odd` 16k+8 to 16k+15. Two cross-lane permutes put them in order.
    const __m512i even = _mm512_unpacklo_epi8(low, high);
    const __m512i odd = _mm512_unpackhi_epi8(low, high);
    const __m512i firstHalf = _mm512_set_epi64(11, 10, 3, 2, 9, 8, 1, 0);
    const __m512i secondHalf = _mm512_set_epi64(15, 14, 7, 6, 13, 12, 5, 4);
    return {_mm512_permutex2var_epi64(even, firstHalf, odd),
            _mm512_permutex2var_epi64(even, secondHalf, odd)};
}

// The lanes below `count` set; `count` at most 64.
ZAMB_AVX512_CODE __mmask64 FirstLanes64(std::uint32_t count) {
    return count >= 64 ? ~__mmask64{0} : (__mmask64{1} << count) - 1;
}
ZAMB_AVX512_CODE __mmask32 FirstLanes32(std::uint32_t count) {
    return count >= 32 ? ~__mmask32{0} : (__mmask32{1} << count) - 1;
}

// The last pixels of a row are read and written through masks, so no byte outside the
// row is touched.
ZAMB_AVX512_CODE __m512i LoadPixels(const std::uint8_t* s, std::uint32_t count) {
    return count >= kStep ? _mm512_loadu_si512(s) : _mm512_maskz_loadu_epi8(FirstLanes64(count), s);
}

ZAMB_AVX512_CODE void StoreColours(std::uint8_t* d, __m512i colours, std::uint32_t count) {
    _mm512_mask_storeu_epi16(d, FirstLanes32(count), colours);
}

// Each of 32 colours written twice: 64 output pixels.
ZAMB_AVX512_CODE void StoreDoubled(std::uint8_t* d, __m512i colours, std::uint32_t count) {
    const __m512i firstHalf =
        _mm512_set_epi16(15, 15, 14, 14, 13, 13, 12, 12, 11, 11, 10, 10, 9, 9, 8, 8, 7, 7, 6, 6, 5,
                         5, 4, 4, 3, 3, 2, 2, 1, 1, 0, 0);
    const __m512i secondHalf = _mm512_add_epi16(firstHalf, _mm512_set1_epi16(16));
    StoreColours(d, _mm512_permutexvar_epi16(firstHalf, colours), 2 * count);
    if (count > 16)
        StoreColours(d + 64, _mm512_permutexvar_epi16(secondHalf, colours), 2 * (count - 16));
}

// The colours of `count` (at most 32) pixels, each written `Copies` times across.
template <int Copies>
ZAMB_AVX512_CODE void StoreCopies(std::uint8_t* d, __m512i colours, std::uint32_t count) {
    if constexpr (Copies == 1) {
        StoreColours(d, colours, count);
    } else {
        StoreDoubled(d, colours, count);
    }
}

// One source row, each pixel's colour written `Copies` times across.
template <int Copies>
ZAMB_AVX512_CODE void LookUpRow(const std::uint8_t* s, std::uint8_t* d, std::uint32_t width,
                                const ColourBytes& table) {
    constexpr std::uint32_t kBytesPerPixel = 2 * Copies;
    for (std::uint32_t x = 0; x < width; x += kStep) {
        const std::uint32_t left = width - x;
        const Colours64 c = LookUp64(table, LoadPixels(s + x, left));
        StoreCopies<Copies>(d + kBytesPerPixel * x, c.first, left);
        if (left > 32) StoreCopies<Copies>(d + kBytesPerPixel * (x + 32), c.second, left - 32);
    }
}

}  // namespace

bool avx512::Available() {
    static const bool present = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512vbmi");
    }();
    return present;
}

ZAMB_AVX512_CODE void avx512::Copy16(const BlitRows& rows, const std::uint16_t* colours) {
    const ColourBytes table = SplitColours(colours);
    for (std::uint32_t r = 0; r < rows.height; ++r)
        LookUpRow<1>(SourceRow(rows, r), DestRow(rows, r), rows.width, table);
}

ZAMB_AVX512_CODE void avx512::Double16(const BlitRows& rows, const std::uint16_t* colours,
                                       bool secondRow) {
    const ColourBytes table = SplitColours(colours);
    for (std::uint32_t r = 0; r < rows.height; ++r) {
        std::uint8_t* d = DestRow(rows, r);
        LookUpRow<2>(SourceRow(rows, r), d, rows.width, table);
        // As on the other paths: the second row is the first again, moved so that rows
        // overlapping through a short pitch get the bytes writing them afresh would give.
        if (secondRow) std::memmove(d + rows.destPitch, d, 4 * std::size_t{rows.width});
    }
}

#else

// Builds without these workers never choose them; the names lead to the SSE2 ones.
bool avx512::Available() {
    return false;
}
void avx512::Copy16(const BlitRows& rows, const std::uint16_t* colours) {
    vector::Copy16(rows, colours);
}
void avx512::Double16(const BlitRows& rows, const std::uint16_t* colours, bool secondRow) {
    vector::Double16(rows, colours, secondRow);
}

#endif
