// SPDX-License-Identifier: MIT
// Reading single values of a video tree, for tests and the fuzzer: the decoder itself reads
// them through its value tables, and these are the references those tables must agree with.
#pragma once

#include <cstdint>

#include "decoder/bitstream.h"
#include "decoder/trees.h"

// One 16-bit value of a video tree: a table step over the first 12 (10) bits, then a walk
// bit by bit through the internal nodes; escape leaves resolve to recent values.
inline std::uint32_t DecodeValue(TreeBlock* trees, int tree, BitReader& bits) {
    const std::uint32_t entry = TreeLookup(trees, tree)[PeekBits(bits, kLookupBits[tree])];
    DropBits(bits, entry & kLookupBitsMask);
    std::uint32_t offset = entry >> kLookupPositionShift;
    std::uint32_t node = LoadNode(trees, offset);
    const std::uint32_t marker = trees->EscapeMarker;
    while (NodeLowBits(node) == marker) {
        offset += ReadBit(bits) ? OneBranchDistance(node) : kNodeBytes;
        node = LoadNode(trees, offset);
    }
    UpdateRecentValues(trees, tree, node);
    return NodeValue(node);
}

// The same result without the lookup table, walking from the root.
inline std::uint32_t DecodeValueByWalk(TreeBlock* trees, int tree, BitReader& bits) {
    std::uint32_t offset = TreeNodesStart(trees, tree);
    std::uint32_t node = LoadNode(trees, offset);
    while (NodeLowBits(node) == trees->EscapeMarker) {
        offset += ReadBit(bits) ? OneBranchDistance(node) : kNodeBytes;
        node = LoadNode(trees, offset);
    }
    UpdateRecentValues(trees, tree, node);
    return NodeValue(node);
}
