// SPDX-License-Identifier: MIT
// The Huffman code trees: the movie's four 16-bit video trees and the small byte trees.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/movie_names.h"
#include "decoder/bitstream.h"

enum TreeIndex : int { PATTERN_TREE = 0, COLOUR_TREE = 1, FULL_TREE = 2, TYPE_TREE = 3 };
inline constexpr int kTreeCount = 4;

// Bits resolved by one lookup-table step, and the table lengths.
inline constexpr std::uint32_t kLookupBits[kTreeCount] = {12, 12, 12, 10};
inline constexpr std::uint32_t kLargeLookupEntries = 4096;
inline constexpr std::uint32_t kTypeLookupEntries = 1024;

// A lookup entry: node position (byte offset from the start of the tree block) x 256 plus
// the bits the step consumed (0 to 12).
inline constexpr std::uint32_t kLookupBitsMask = 0xFF;
inline constexpr std::uint32_t kLookupPositionShift = 8;

// Node words. Upper 16 bits: the leaf's (possibly remapped) value, or for an internal node
// the number of leaves in its 0-branch. Lower 16 bits: the escape marker for internal nodes,
// the leaf's unmapped value for leaves. The 0-branch child is the next node; the 1-branch
// child lies (leaves in 0-branch) x 8 bytes on from the internal node.
inline constexpr std::uint32_t kNodeBytes = 4;
inline constexpr std::uint32_t NodeValue(std::uint32_t node) {
    return node >> 16;
}
inline constexpr std::uint32_t NodeLowBits(std::uint32_t node) {
    return node & 0xFFFF;
}
inline constexpr std::uint32_t OneBranchDistance(std::uint32_t node) {
    return (node >> 16) * 8;
}

// Each tree's recent values live in nodes of the tree block; decoding an escape leaf reads
// the recent value straight out of the node it reaches.
struct RecentValues {
    std::uint32_t Reset;        // node word every recent value starts each video chunk with
    std::uint32_t Location[3];  // byte offsets in the tree block of recent 0 (newest), 1, 2
};

// One allocation per movie: this fixed part, then the four node arrays in tree order, each
// as long as the header's size for that tree (4 bytes per node plus three spare nodes).
struct ZambTreeBlock {
    std::uint32_t Sizes[kTreeCount];
    std::uint32_t PatternLookup[kLargeLookupEntries];
    std::uint32_t ColourLookup[kLargeLookupEntries];
    std::uint32_t FullLookup[kLargeLookupEntries];
    std::uint32_t TypeLookup[kTypeLookupEntries];
    std::uint32_t EscapeMarker;  // low 16 bits used: no leaf of any tree has this value
    RecentValues Recent[kTreeCount];
    // The rest of the fixed part belongs to the decoder: a count of the changes to the
    // block's nodes, and the decoding tables derived from them (value_tables.h), which stay
    // with the block so that each movie keeps its own.
    std::uint32_t Generation;
    struct TableCache* Tables;
    std::uint8_t Spare[20 - 4 - sizeof(void*) - (sizeof(void*) == 8 ? 4 : 0)];
};
inline constexpr std::uint32_t kTreeNodesOffset = 53352;
static_assert(sizeof(TreeBlock) == kTreeNodesOffset);
static_assert(offsetof(TreeBlock, EscapeMarker) == 53264);
static_assert(offsetof(TreeBlock, Generation) == 53332);

// Bit t: the movie stores no tree t, so any value read from it is made up. Just built, an
// absent tree keeps all three recent values in its one node; a stored tree gives each its
// own node.
inline std::uint32_t AbsentTrees(const TreeBlock* trees) {
    std::uint32_t absent = 0;
    for (int t = 0; t < kTreeCount; ++t) {
        const std::uint32_t* at = trees->Recent[t].Location;
        if (at[0] == at[1] && at[1] == at[2]) absent |= 1u << t;
    }
    return absent;
}

// Lookup entries carry byte positions in 24 bits, so a tree block may not reach 16 MiB.
inline constexpr std::uint32_t kTreeBlockLimit = 1u << 24;

inline std::uint8_t* TreeBlockBytes(TreeBlock* trees) {
    return reinterpret_cast<std::uint8_t*>(trees);
}
inline const std::uint8_t* TreeBlockBytes(const TreeBlock* trees) {
    return reinterpret_cast<const std::uint8_t*>(trees);
}

inline const std::uint32_t* TreeLookup(const TreeBlock* trees, int tree) {
    switch (tree) {
        case PATTERN_TREE:
            return trees->PatternLookup;
        case COLOUR_TREE:
            return trees->ColourLookup;
        case FULL_TREE:
            return trees->FullLookup;
        default:
            return trees->TypeLookup;
    }
}
inline std::uint32_t* TreeLookup(TreeBlock* trees, int tree) {
    return const_cast<std::uint32_t*>(TreeLookup(static_cast<const TreeBlock*>(trees), tree));
}

// Byte offset of a tree's node array in the tree block.
inline std::uint32_t TreeNodesStart(const TreeBlock* trees, int tree) {
    std::uint32_t offset = kTreeNodesOffset;
    for (int i = 0; i < tree; ++i) offset += trees->Sizes[i];
    return offset;
}

inline std::uint32_t LoadNode(const TreeBlock* trees, std::uint32_t offset) {
    std::uint32_t node;
    std::memcpy(&node, TreeBlockBytes(trees) + offset, sizeof node);
    return node;
}
inline void StoreNode(TreeBlock* trees, std::uint32_t offset, std::uint32_t node) {
    std::memcpy(TreeBlockBytes(trees) + offset, &node, sizeof node);
}

// Why a tree block could not be built; Built when it could.
enum class TreeBuild {
    Built,
    ShortData,       // the trees run past the end of the tree data
    TooManyNodes,    // a tree needs more nodes than its header size leaves room for
    ByteTreeTooBig,  // a byte tree of more than 511 nodes
    BranchTooBig,    // a 0-branch with more leaves than a node can count (65,535)
    NoMarker,        // the trees use every 16-bit value, so none is left to mark internal nodes
};

// Builds all four trees (a block built before must have released its tables first). The tree data
// lies in `work` from byte 4,096 on, `treeDataSize` bytes; `work` holds at least max(8,192, 4,096 +
// treeDataSize) bytes and is used as scratch. `sizes` are the header's four tree sizes; `trees` is
// sizeof(TreeBlock) + their sum bytes. Every tree block it builds decodes safely: walks end at
// leaves inside their own tree.
TreeBuild BuildTrees(std::uint8_t* work, std::uint32_t treeDataSize, TreeBlock* trees,
                     const std::uint32_t sizes[kTreeCount]);

// Counts the remaps of a block since its build, so that tables derived from its nodes can
// tell when they may be out of date.
inline std::uint32_t TreeBlockGeneration(const TreeBlock* trees) {
    return trees->Generation;
}

// Sets every tree's three recent values to its reset value; done at each video chunk.
void ResetRecentValues(TreeBlock* trees);

inline void UpdateRecentValues(TreeBlock* trees, int tree, std::uint32_t node) {
    const RecentValues& recent = trees->Recent[tree];
    const std::uint32_t newest = LoadNode(trees, recent.Location[0]);
    if (node == newest) return;
    StoreNode(trees, recent.Location[2], LoadNode(trees, recent.Location[1]));
    StoreNode(trees, recent.Location[1], newest);
    StoreNode(trees, recent.Location[0], node);
}

// Byte trees: 4-byte nodes in pre-order. A leaf is kByteLeaf | value; an internal node holds
// the byte distance to its 1-branch child, its 0-branch child follows it.
inline constexpr std::uint32_t kByteLeaf = 0x80000000u;
inline constexpr std::uint32_t kByteTreeMaxNodes = 511;
inline constexpr std::uint32_t kByteTreeBytes = 2048;  // room for the largest byte tree

// Reads one byte tree (with its closing bit) into `nodes` (kByteTreeBytes bytes). Returns the
// node count, or 0 for a tree of more than 511 nodes or one that runs past the stream's end.
std::uint32_t ReadByteTree(BitReader& bits, std::uint32_t* nodes);

// Decodes on from node `index` a bit at a time to the leaf the stream leads to.
inline std::uint32_t WalkByteTree(const std::uint32_t* nodes, std::uint32_t index,
                                  BitReader& bits) {
    while ((nodes[index] & kByteLeaf) == 0) {
        index += ReadBit(bits) ? nodes[index] / kNodeBytes : 1;
    }
    return nodes[index] & 0xFF;
}

inline std::uint32_t DecodeByte(const std::uint32_t* nodes, BitReader& bits) {
    return WalkByteTree(nodes, 0, bits);
}

// Makes colour values decode through `map` (256 indices). Each remap starts from the
// unmapped values, so it replaces the previous one; the identity map restores the movie's.
void RemapTreeColours(TreeBlock* trees, const std::uint8_t map[256]);
// The trees whose leaves carry colours, and so change with a remap.
inline constexpr int kRemappedTrees[] = {COLOUR_TREE, FULL_TREE, TYPE_TREE};

// The word a leaf of `tree` holds after a remap with `map`: it follows from the leaf's own
// unmapped value alone, so applying it again changes nothing.
std::uint32_t RemappedLeaf(int tree, std::uint32_t node, const std::uint8_t map[256]);
