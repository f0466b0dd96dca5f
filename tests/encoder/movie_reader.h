// SPDX-License-Identifier: MIT
// A small, slow, independent movie reader that checks what the writer produced.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zambrel::encoder::testing {

struct ReadTrack {
    std::uint32_t format = 0;
    // Decoded bytes of each stored frame's chunk; hasChunk tells an empty chunk from none.
    std::vector<std::vector<std::uint8_t>> chunks;
    std::vector<bool> hasChunk;
};

// What a reader sees in a movie, plus the facts about its trees that a table-driven reader
// relies on.
struct ReadMovie {
    bool ok = false;
    std::string error;
    std::uint32_t width = 0, height = 0, frameCount = 0, fileFlags = 0;
    std::int32_t frameRate = 0;
    std::array<std::uint32_t, 7> trackMaxBytes{};
    std::uint32_t treeDataSize = 0;
    std::array<std::uint32_t, 4> treeSizes{};
    std::array<std::uint32_t, 4> treeNodes{};     // counted while reading; 0 = absent
    std::array<std::uint32_t, 4> escapeLeaves{};  // leaves that decode a recent value
    std::array<std::array<std::uint16_t, 3>, 4> escapes{};
    std::vector<std::uint32_t> frameSizes;
    std::vector<std::uint8_t> frameTypes;
    // After each stored frame: the picture and the palette widened to 8 bits.
    std::vector<std::vector<std::uint8_t>> pictures;
    std::vector<std::array<std::uint8_t, 768>> palettes;
    std::array<ReadTrack, 7> tracks;
    // Per stored frame, the palette chunk's command bytes (0x80.. keep, 0x40.. copy, set).
    std::vector<std::vector<std::uint8_t>> paletteCommands;
    std::uint64_t escapeDecodes = 0;      // values decoded through an escape leaf
    std::uint32_t longestRunPastEnd = 0;  // blocks a final run claimed beyond the picture
};

ReadMovie ReadMovieBytes(const std::vector<std::uint8_t>& bytes);

}  // namespace zambrel::encoder::testing
