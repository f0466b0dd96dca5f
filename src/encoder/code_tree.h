// SPDX-License-Identifier: MIT
// Code trees for the writer: their shape from value counts, the codes, and the tree syntax.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "encoder/bit_writer.h"
#include "encoder/writer.h"

namespace zambrel::encoder {

// A code as the reader walks it: `leadingOnes` one bits, then `tailLength` bits of `tail`
// (bit 0 first). Lopsided trees need codes far longer than any machine word, all ones but
// the last bit; Huffman codes fit the tail.
struct Code {
    std::uint64_t leadingOnes = 0;
    std::uint64_t tail = 0;
    unsigned tailLength = 0;
};

void WriteCode(BitWriter& out, const Code& code);

struct TreeNode {
    std::int32_t zero = -1;  // child indices; -1 for a leaf
    std::int32_t one = -1;
    std::uint32_t leaf = 0;  // for a leaf: the index of its symbol in the builder's input
};

// A binary code tree over symbols 0 .. n-1. Each internal node has the branch with fewer
// leaves as its 0-branch: readers keep a stack of the open 1-branches, which this keeps
// shallow, and they count the leaves of a 0-branch in 16 bits.
struct CodeTree {
    std::vector<TreeNode> nodes;  // empty for a tree without symbols; else nodes[root]
    std::int32_t root = -1;
    std::vector<Code> codes;  // per symbol
    std::size_t LeafCount() const { return codes.size(); }
    std::size_t NodeCount() const { return nodes.size(); }
};

// counts[i] > 0 for every symbol i. One symbol gives a single leaf with an empty code.
CodeTree BuildCodeTree(const std::vector<std::uint64_t>& counts, TreeShape shape);

// The tree in pre-order (1 = internal node, 0 = leaf followed by what `writeLeaf` writes for
// the leaf's symbol), without the closing bit.
void WriteTreeShape(BitWriter& out, const CodeTree& tree,
                    const std::function<void(std::uint32_t symbol)>& writeLeaf);

// A tree of byte values. Bytes that never occur have no code; a tree without any value is
// written as the single leaf 0, since the reader always expects a tree.
struct ByteTree {
    CodeTree tree;
    std::array<std::uint8_t, 256> valueOf{};   // symbol -> byte value
    std::array<std::int32_t, 256> symbolOf{};  // byte value -> symbol, -1 if absent
    const Code& CodeFor(std::uint8_t value) const;
};

ByteTree BuildByteTree(const std::array<std::uint64_t, 256>& counts, TreeShape shape);

// Pre-order, 8-bit leaf values, then the closing 0 bit.
void WriteByteTree(BitWriter& out, const ByteTree& tree);

}  // namespace zambrel::encoder
