// SPDX-License-Identifier: MIT
// Palette chunks: keep, copy and set commands that turn the previous palette into the next.
#include <algorithm>
#include <cstring>

#include "decoder/movie.h"

namespace {

constexpr std::uint32_t kEntries = 256;
constexpr std::uint8_t kMaxLevel = 63;

// Six-bit levels widened to eight bits so that 63 becomes 255.
constexpr std::uint8_t WidenLevel(std::uint8_t level) {
    return static_cast<std::uint8_t>(level * 4 + level / 16);
}

struct LevelTable {
    std::uint8_t widened[kMaxLevel + 1];
    constexpr LevelTable() : widened{} {
        for (std::uint8_t v = 0; v <= kMaxLevel; ++v) widened[v] = WidenLevel(v);
    }
};
constexpr LevelTable kLevelTable;

// Levels above 63 lie outside the format; they are taken as 63, the brightest level.
std::uint8_t Widen(std::uint8_t level) {
    return kLevelTable.widened[std::min(level, kMaxLevel)];
}

void CopyEntries(std::uint8_t* to, std::uint32_t toEntry, const std::uint8_t* from,
                 std::uint32_t fromEntry, std::uint32_t count) {
    std::memcpy(to + 3 * toEntry, from + 3 * fromEntry, 3 * count);
}

}  // namespace

// Commands that would run past entry 255 (of the new palette, or of a copy's source) are cut
// short there; the next command goes on from the entry after the last one written. A chunk
// that ends before entry 255 leaves the remaining entries as they were. Nothing outside the
// 256 entries, the level table or the chunk is ever touched.
void ApplyPaletteChunk(std::uint8_t* palette, const std::uint8_t* chunk,
                       const std::uint8_t* chunkEnd) {
    std::uint8_t previous[ZAMB_PALETTE_BYTES];
    std::memcpy(previous, palette, sizeof previous);
    if (chunk >= chunkEnd) return;
    const std::uint8_t* end = std::min(chunkEnd, chunk + 4 * std::uint32_t{chunk[0]});
    const std::uint8_t* p = chunk + 1;
    std::uint32_t entry = 0;
    while (entry < kEntries && p < end) {
        const std::uint8_t command = *p++;
        if (command >= 0x80) {
            const std::uint32_t count =
                std::min<std::uint32_t>((command & 0x7F) + 1, kEntries - entry);
            CopyEntries(palette, entry, previous, entry, count);  // already equal: kept
            entry += count;
        } else if (command >= 0x40) {
            if (p >= end) break;
            const std::uint32_t source = *p++;
            const std::uint32_t count = std::min(
                {std::uint32_t{(command & 0x3Fu) + 1}, kEntries - entry, kEntries - source});
            CopyEntries(palette, entry, previous, source, count);
            entry += count;
        } else {
            if (end - p < 2) break;
            palette[3 * entry] = Widen(command);
            palette[3 * entry + 1] = Widen(p[0]);
            palette[3 * entry + 2] = Widen(p[1]);
            p += 2;
            ++entry;
        }
    }
}
