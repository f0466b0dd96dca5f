// SPDX-License-Identifier: MIT
// Palette chunks: the keep, copy and set commands that turn one palette into the next.
#include "encoder/palette_chunk.h"

#include <cstdlib>

namespace zambrel::encoder {
namespace {

constexpr int kEntries = 256;
constexpr int kMaxKeep = 128;
constexpr int kMaxCopy = 64;

bool SameEntry(const Levels& a, int i, const Levels& b, int j) {
    return a[3 * i] == b[3 * j] && a[3 * i + 1] == b[3 * j + 1] && a[3 * i + 2] == b[3 * j + 2];
}

int KeepLength(const Levels& previous, const Levels& next, int entry) {
    int length = 0;
    while (entry + length < kEntries && length < kMaxKeep &&
           SameEntry(next, entry + length, previous, entry + length))
        ++length;
    return length;
}

// The longest run of new entries found somewhere in the previous palette: a copy of one
// entry (2 bytes) already beats a set (3 bytes).
void BestCopy(const Levels& previous, const Levels& next, int entry, int& source, int& length) {
    length = 0;
    for (int from = 0; from < kEntries; ++from) {
        int run = 0;
        while (run < kMaxCopy && entry + run < kEntries && from + run < kEntries &&
               SameEntry(next, entry + run, previous, from + run))
            ++run;
        if (run > length) {
            length = run;
            source = from;
        }
    }
}

std::uint8_t NearestLevel(std::uint8_t value) {
    int best = 0;
    for (int level = 1; level < 64; ++level) {
        if (std::abs(WidenLevel(static_cast<std::uint8_t>(level)) - value) <
            std::abs(WidenLevel(static_cast<std::uint8_t>(best)) - value))
            best = level;
    }
    return static_cast<std::uint8_t>(best);
}

}  // namespace

bool PaletteToLevels(const std::array<std::uint8_t, kPaletteBytes>& palette, PaletteValues mode,
                     Levels& levels, std::string& error) {
    static const char* const kComponents[] = {"red", "green", "blue"};
    for (int i = 0; i < kPaletteBytes; ++i) {
        const std::uint8_t level = NearestLevel(palette[i]);
        if (mode == PaletteValues::Exact && WidenLevel(level) != palette[i]) {
            error = "palette entry " + std::to_string(i / 3) + " " + kComponents[i % 3] + " " +
                    std::to_string(palette[i]) + " is not a palette level (nearest " +
                    std::to_string(WidenLevel(level)) + ")";
            return false;
        }
        levels[i] = level;
    }
    return true;
}

std::vector<std::uint8_t> BuildPaletteChunk(const Levels& previous, const Levels& next) {
    std::vector<std::uint8_t> chunk{0};  // the length byte, filled in below
    for (int entry = 0; entry < kEntries;) {
        const int keep = KeepLength(previous, next, entry);
        if (keep > 0) {
            chunk.push_back(static_cast<std::uint8_t>(0x80 | (keep - 1)));
            entry += keep;
            continue;
        }
        int source = 0, copy = 0;
        BestCopy(previous, next, entry, source, copy);
        if (copy > 0) {
            chunk.push_back(static_cast<std::uint8_t>(0x40 | (copy - 1)));
            chunk.push_back(static_cast<std::uint8_t>(source));
            entry += copy;
            continue;
        }
        chunk.insert(chunk.end(), next.begin() + 3 * entry, next.begin() + 3 * entry + 3);
        ++entry;
    }
    chunk.resize((chunk.size() + 3) / 4 * 4, 0);
    chunk[0] = static_cast<std::uint8_t>(chunk.size() / 4);
    return chunk;
}

}  // namespace zambrel::encoder
