// SPDX-License-Identifier: MIT
// The vector twins of the doubling and key-colour workers, on SSE2.
#include "blit/workers.h"

#if ZAMBBLIT_SSE2
#include <emmintrin.h>

namespace {

__m128i Load16(const std::uint8_t* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}
void Store16Bytes(std::uint8_t* at, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at), v);
}
__m128i Load8(const std::uint8_t* at) {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(at));
}
void Store8Bytes(std::uint8_t* at, __m128i v) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(at), v);
}

// Sixteen source pixels per step, each byte duplicated into 32 output bytes.
void DoubleRow8(const std::uint8_t* s, std::uint8_t* d, std::uint32_t width) {
    std::uint32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m128i v = Load16(s + x);
        Store16Bytes(d + 2 * x, _mm_unpacklo_epi8(v, v));
        Store16Bytes(d + 2 * x + 16, _mm_unpackhi_epi8(v, v));
    }
    for (; x < width; ++x) d[2 * x] = d[2 * x + 1] = s[x];
}

// The colours of eight source pixels in one register: the look-ups go straight into its
// lanes, with no store and reload between.
__m128i LookUp8(const std::uint8_t* s, const std::uint16_t* c) {
    return _mm_setr_epi16(static_cast<short>(c[s[0]]), static_cast<short>(c[s[1]]),
                          static_cast<short>(c[s[2]]), static_cast<short>(c[s[3]]),
                          static_cast<short>(c[s[4]]), static_cast<short>(c[s[5]]),
                          static_cast<short>(c[s[6]]), static_cast<short>(c[s[7]]));
}

// Eight pixels per step, one 16-byte store.
void CopyRow16(const std::uint8_t* s, std::uint8_t* d, std::uint32_t width,
               const std::uint16_t* c) {
    std::uint32_t x = 0;
    for (; x + 8 <= width; x += 8) Store16Bytes(d + 2 * x, LookUp8(s + x, c));
    for (; x < width; ++x) Store16(d + 2 * x, c[s[x]]);
}

// Eight pixels per step: the colours have no vector look-up, the duplication and the
// stores do.
void DoubleRow16(const std::uint8_t* s, std::uint8_t* d, std::uint32_t width,
                 const std::uint16_t* c) {
    std::uint32_t x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m128i v = LookUp8(s + x, c);
        Store16Bytes(d + 4 * x, _mm_unpacklo_epi16(v, v));
        Store16Bytes(d + 4 * x + 16, _mm_unpackhi_epi16(v, v));
    }
    for (; x < width; ++x) Store16Pair(d + 4 * x, c[s[x]]);
}

// Where the compared bytes equal the key the first candidate is written, elsewhere the
// second. Unchanged destination bytes are rewritten with their own value.
__m128i Select(__m128i compared, __m128i key, __m128i ifKey, __m128i otherwise) {
    const __m128i equal = _mm_cmpeq_epi8(compared, key);
    return _mm_or_si128(_mm_and_si128(equal, ifKey), _mm_andnot_si128(equal, otherwise));
}

enum class KeyRule { kTrans, kMask, kMerge };

template <KeyRule rule>
__m128i Apply(__m128i s, __m128i m, __m128i d, __m128i key) {
    if constexpr (rule == KeyRule::kTrans) return Select(s, key, d, s);
    if constexpr (rule == KeyRule::kMask) return Select(m, key, d, s);
    return Select(s, key, m, s);
}

template <KeyRule rule>
void ApplyPixel(std::uint8_t& d, std::uint8_t s, std::uint8_t m, std::uint8_t key) {
    if constexpr (rule == KeyRule::kTrans) TransPixel(d, s, key);
    if constexpr (rule == KeyRule::kMask) MaskPixel(d, s, m, key);
    if constexpr (rule == KeyRule::kMerge) MergePixel(d, s, m, key);
}

template <KeyRule rule>
void KeyRow(const std::uint8_t* s, const std::uint8_t* m, std::uint8_t* d, std::uint32_t width,
            std::uint8_t keyByte) {
    const __m128i key = _mm_set1_epi8(static_cast<char>(keyByte));
    const bool hasSide = rule != KeyRule::kTrans;
    std::uint32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m128i side = hasSide ? Load16(m + x) : _mm_setzero_si128();
        Store16Bytes(d + x, Apply<rule>(Load16(s + x), side, Load16(d + x), key));
    }
    if (x + 8 <= width) {
        const __m128i side = hasSide ? Load8(m + x) : _mm_setzero_si128();
        Store8Bytes(d + x, Apply<rule>(Load8(s + x), side, Load8(d + x), key));
        x += 8;
    }
    for (; x < width; ++x) ApplyPixel<rule>(d[x], s[x], hasSide ? m[x] : 0, keyByte);
}

template <KeyRule rule>
void KeyRows_(const KeyRows& k) {
    for (std::uint32_t r = 0; r < k.rows.height; ++r) {
        const std::ptrdiff_t srcOffset = static_cast<std::ptrdiff_t>(r) * k.rows.srcPitch;
        const std::uint8_t* side = k.side ? k.side + srcOffset : nullptr;
        KeyRow<rule>(k.rows.src + srcOffset, side, DestRow(k.rows, r), k.rows.width, k.key);
    }
}

}  // namespace

bool BlitHasVectorWorkers() {
    return true;
}

void vector::Copy16(const BlitRows& rows, const std::uint16_t* colours) {
    for (std::uint32_t r = 0; r < rows.height; ++r)
        CopyRow16(SourceRow(rows, r), DestRow(rows, r), rows.width, colours);
}

void vector::Double8(const BlitRows& rows, bool secondRow) {
    for (std::uint32_t r = 0; r < rows.height; ++r) {
        const std::uint8_t* s = SourceRow(rows, r);
        std::uint8_t* d = DestRow(rows, r);
        DoubleRow8(s, d, rows.width);
        // The second row is the first one again. memmove gives the bytes writing it afresh
        // would give even where a short pitch makes the two rows overlap.
        if (secondRow) std::memmove(d + rows.destPitch, d, 2 * std::size_t{rows.width});
    }
}

void vector::Double16(const BlitRows& rows, const std::uint16_t* colours, bool secondRow) {
    for (std::uint32_t r = 0; r < rows.height; ++r) {
        const std::uint8_t* s = SourceRow(rows, r);
        std::uint8_t* d = DestRow(rows, r);
        DoubleRow16(s, d, rows.width, colours);
        // Copying the first row saves the look-ups; memmove as above.
        if (secondRow) std::memmove(d + rows.destPitch, d, 4 * std::size_t{rows.width});
    }
}

void vector::TransCore(const KeyRows& rows) {
    KeyRows_<KeyRule::kTrans>(rows);
}
void vector::MaskCore(const KeyRows& rows) {
    KeyRows_<KeyRule::kMask>(rows);
}
void vector::MergeCore(const KeyRows& rows) {
    KeyRows_<KeyRule::kMerge>(rows);
}

#endif
