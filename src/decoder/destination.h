// SPDX-License-Identifier: MIT
// The destination descriptor: where and how a movie's video is decoded, and its change map.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/movie_names.h"

// Kind 1 is the only kind: one linear buffer.
inline constexpr std::uint8_t kDestinationLinear = 1;

// Pixel formats as the top byte of the destination flags (the blitter's format bits).
inline constexpr std::uint8_t kFormat8 = 0;
inline constexpr std::uint8_t kFormat555 = 0x80;
inline constexpr std::uint8_t kFormat565 = 0xC0;
inline constexpr std::uint32_t kDestBottomUp = 0x1;
inline constexpr std::uint32_t kDestFormatMask = 0xC0000000u;

inline constexpr std::uint32_t kColourTableBytes = 256 * sizeof(std::uint16_t);

// Laid out once by ZambSetDestination, so the painters only add precomputed steps. The
// change map follows this record in the same allocation; a 16-bit destination's colour
// table is the allocation's last 512 bytes.
struct ZambDestination {
    std::uint8_t Kind;
    std::uint8_t RowDoubling;  // each decoded row goes to two consecutive output rows
    std::uint8_t PixelFormat;  // kFormat8, kFormat555 or kFormat565
    std::uint8_t* FirstPixel;  // the output position of the picture's top-left pixel
    std::uint32_t BlocksAcross;
    std::uint32_t BlockRows;
    std::int32_t RowStep;           // bytes between output rows; negative when bottom-up
    std::int32_t BlockSpan;         // from a block's first output row to its last
    std::int32_t NextBlockRowStep;  // from past a block row's last block to the next row
    // The changed-block scanner's state, cleared by every decode.
    std::uint8_t ScanDone;
    std::uint8_t ScanContinue;  // the last run ended at a row end inside a group going on
    std::uint8_t ScanStarted;
    std::uint32_t ScanWidth;  // picture width in pixels
    std::uint32_t ScanRows;   // decoded rows
    std::uint32_t ScanX;      // pixels
    std::uint32_t ScanY;      // decoded rows, a multiple of 4
    const std::uint8_t* ScanPointer;
};

inline std::uint8_t* ChangeMapOf(Destination* dest) {
    return reinterpret_cast<std::uint8_t*>(dest) + sizeof(Destination);
}
inline const std::uint8_t* ChangeMapOf(const Destination* dest) {
    return reinterpret_cast<const std::uint8_t*>(dest) + sizeof(Destination);
}

// Bytes of a descriptor for a picture of `width` x `rows` decoded pixels: the record, one
// map byte per 256 pixels (16 blocks) with at least 32 spare bytes behind it for the
// terminating 0 and a partial last group, and the colour table for 16-bit formats.
inline std::uint32_t DestinationSize(std::uint32_t width, std::uint32_t rows, bool sixteenBit) {
    const std::uint64_t pixels = std::uint64_t{width} * rows;
    const std::uint64_t size = (sizeof(Destination) + pixels / 256 + 35) & ~std::uint64_t{3};
    return static_cast<std::uint32_t>(size + (sixteenBit ? kColourTableBytes : 0));
}
