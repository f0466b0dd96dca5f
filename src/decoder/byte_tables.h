// SPDX-License-Identifier: MIT
// Byte trees decoded a table step at a time: sound chunks decode thousands of bytes through
// the same few trees, so a look-up of the next bits pays for its build many times over.
#pragma once

#include <cstdint>

#include "decoder/bitstream.h"
#include "decoder/trees.h"

// Codes of up to this many bits resolve in one look-up; longer ones walk on from the node
// the look-up reached. Most sound deltas are short: ten bits cover nearly all of them.
inline constexpr std::uint32_t kByteTableBits = 10;
inline constexpr std::uint32_t kByteTableEntries = 1u << kByteTableBits;

// An entry is either a leaf (kByteTableLeaf, the bits its code takes x 256, its value) or,
// for the next bits that lead past the table's depth, the index of the node they reach.
inline constexpr std::uint16_t kByteTableLeaf = 0x8000;

static_assert(kByteTreeMaxNodes < kByteTableLeaf, "node indices must not look like leaves");

struct ByteTable {
    std::uint16_t Entries[kByteTableEntries];
};

// Fills `table` from a tree that ReadByteTree accepted.
void BuildByteTable(const std::uint32_t* nodes, ByteTable& table);

// The same value, and the same bits consumed, as DecodeByte on the tree the table was built
// from: at the stream's end too, as the bits past it are zeros either way.
inline std::uint32_t DecodeByteByTable(const std::uint32_t* nodes, const ByteTable& table,
                                       BitReader& bits) {
    const std::uint32_t entry = table.Entries[PeekBits(bits, kByteTableBits)];
    if (entry & kByteTableLeaf) {
        DropBits(bits, (entry >> 8) & 0x7F);
        return entry & 0xFF;
    }
    DropBits(bits, kByteTableBits);
    return WalkByteTree(nodes, entry, bits);
}
