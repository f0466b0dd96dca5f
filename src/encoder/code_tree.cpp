// SPDX-License-Identifier: MIT
// Code trees for the writer: their shape from value counts, the codes, and the tree syntax.
#include "encoder/code_tree.h"

#include <algorithm>
#include <numeric>
#include <utility>

namespace zambrel::encoder {
namespace {

// Codes longer than this would not fit the tail of a Code; Huffman trees reach it only with
// counts spread over a range near 2^58, so halving the counts until it holds costs nothing.
constexpr unsigned kMaxHuffmanDepth = 58;

struct Shape {
    std::vector<TreeNode> nodes;
    std::int32_t root = -1;
};

std::int32_t AddInternal(Shape& shape, std::int32_t a, std::int32_t b,
                         const std::vector<std::uint32_t>& leaves) {
    // The branch with fewer leaves goes first (the 0-branch).
    if (leaves[static_cast<std::size_t>(b)] < leaves[static_cast<std::size_t>(a)]) std::swap(a, b);
    shape.nodes.push_back(TreeNode{a, b, 0});
    return static_cast<std::int32_t>(shape.nodes.size() - 1);
}

Shape HuffmanShape(const std::vector<std::uint64_t>& counts) {
    Shape shape;
    const std::size_t n = counts.size();
    std::vector<std::uint32_t> leaves(n, 1);
    for (std::size_t i = 0; i < n; ++i)
        shape.nodes.push_back(TreeNode{-1, -1, static_cast<std::uint32_t>(i)});
    // The two least of the leaves and the nodes made so far are joined, ties taken by node
    // index. Nodes are made in that same order (each joins counts no smaller than the last
    // did, and takes the next index), so with the leaves sorted once the two least are
    // always at the fronts of the two lists: a heap would find the same ones at more cost.
    using Item = std::pair<std::uint64_t, std::int32_t>;  // count, node
    std::vector<Item> sorted, made;
    sorted.reserve(n);
    made.reserve(n);
    for (std::size_t i = 0; i < n; ++i) sorted.push_back({counts[i], static_cast<std::int32_t>(i)});
    std::sort(sorted.begin(), sorted.end());
    std::size_t nextLeaf = 0, nextMade = 0;
    const auto least = [&] {
        const bool leaf =
            nextLeaf < n && (nextMade == made.size() || sorted[nextLeaf] < made[nextMade]);
        return leaf ? sorted[nextLeaf++] : made[nextMade++];
    };
    for (std::size_t left = n; left > 1; --left) {
        const Item a = least();
        const Item b = least();
        const std::int32_t node = AddInternal(shape, a.second, b.second, leaves);
        leaves.push_back(leaves[static_cast<std::size_t>(a.second)] +
                         leaves[static_cast<std::size_t>(b.second)]);
        made.push_back({a.first + b.first, node});
    }
    shape.root = made.empty() ? sorted[0].second : made.back().second;
    return shape;
}

Shape LopsidedShape(const std::vector<std::uint64_t>& counts) {
    Shape shape;
    const std::size_t n = counts.size();
    std::vector<std::uint32_t> order(n);
    std::iota(order.begin(), order.end(), 0u);
    // The most frequent value gets the shortest code, as a chain of 1-branches.
    std::stable_sort(order.begin(), order.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return counts[a] > counts[b]; });
    for (std::size_t i = 0; i < n; ++i)
        shape.nodes.push_back(TreeNode{-1, -1, static_cast<std::uint32_t>(i)});
    std::int32_t chain = static_cast<std::int32_t>(order[n - 1]);
    for (std::size_t k = n - 1; k-- > 0;) {
        shape.nodes.push_back(TreeNode{static_cast<std::int32_t>(order[k]), chain, 0});
        chain = static_cast<std::int32_t>(shape.nodes.size() - 1);
    }
    shape.root = chain;
    return shape;
}

// Codes of every leaf, and the greatest code length.
std::uint64_t AssignCodes(const Shape& shape, std::vector<Code>& codes) {
    std::uint64_t deepest = 0;
    std::vector<std::pair<std::int32_t, Code>> stack{{shape.root, Code{}}};
    while (!stack.empty()) {
        auto [index, code] = stack.back();
        stack.pop_back();
        const TreeNode& node = shape.nodes[static_cast<std::size_t>(index)];
        if (node.zero < 0) {
            codes[node.leaf] = code;
            deepest = std::max(deepest, code.leadingOnes + code.tailLength);
            continue;
        }
        Code zero = code;
        Code one = code;
        if (zero.tailLength < 64) ++zero.tailLength;
        if (one.tailLength == 0) {
            ++one.leadingOnes;
        } else if (one.tailLength < 64) {
            one.tail |= std::uint64_t{1} << one.tailLength;
            ++one.tailLength;
        }
        stack.push_back({node.zero, zero});
        stack.push_back({node.one, one});
    }
    return deepest;
}

}  // namespace

void WriteCode(BitWriter& out, const Code& code) {
    // Most codes are short enough to go in as one piece, leading ones and tail together.
    if (code.leadingOnes + code.tailLength <= 56) {
        const auto ones = static_cast<unsigned>(code.leadingOnes);
        out.Bits(((std::uint64_t{1} << ones) - 1) | (code.tail << ones), ones + code.tailLength);
        return;
    }
    out.Ones(code.leadingOnes);
    out.Bits(code.tail, code.tailLength);
}

CodeTree BuildCodeTree(const std::vector<std::uint64_t>& counts, TreeShape shape) {
    CodeTree tree;
    if (counts.empty()) return tree;
    std::vector<std::uint64_t> scaled = counts;
    for (;;) {
        Shape built = shape == TreeShape::Lopsided ? LopsidedShape(scaled) : HuffmanShape(scaled);
        tree.codes.assign(counts.size(), Code{});
        const std::uint64_t deepest = AssignCodes(built, tree.codes);
        if (shape == TreeShape::Lopsided || deepest <= kMaxHuffmanDepth) {
            tree.nodes = std::move(built.nodes);
            tree.root = built.root;
            return tree;
        }
        for (std::uint64_t& count : scaled) count = count / 2 + 1;
    }
}

void WriteTreeShape(BitWriter& out, const CodeTree& tree,
                    const std::function<void(std::uint32_t symbol)>& writeLeaf) {
    if (tree.root < 0) return;
    std::vector<std::int32_t> stack{tree.root};
    while (!stack.empty()) {
        const TreeNode& node = tree.nodes[static_cast<std::size_t>(stack.back())];
        stack.pop_back();
        if (node.zero < 0) {
            out.Bit(false);
            writeLeaf(node.leaf);
        } else {
            out.Bit(true);
            stack.push_back(node.one);  // after the whole 0-branch
            stack.push_back(node.zero);
        }
    }
}

const Code& ByteTree::CodeFor(std::uint8_t value) const {
    return tree.codes[static_cast<std::size_t>(symbolOf[value])];
}

ByteTree BuildByteTree(const std::array<std::uint64_t, 256>& counts, TreeShape shape) {
    ByteTree result;
    result.symbolOf.fill(-1);
    std::vector<std::uint64_t> used;
    for (unsigned value = 0; value < 256; ++value) {
        if (counts[value] == 0) continue;
        result.symbolOf[value] = static_cast<std::int32_t>(used.size());
        result.valueOf[used.size()] = static_cast<std::uint8_t>(value);
        used.push_back(counts[value]);
    }
    if (used.empty()) {
        result.symbolOf[0] = 0;
        result.valueOf[0] = 0;
        used.push_back(1);
    }
    result.tree = BuildCodeTree(used, shape);
    return result;
}

void WriteByteTree(BitWriter& out, const ByteTree& tree) {
    WriteTreeShape(out, tree.tree,
                   [&](std::uint32_t symbol) { out.Bits(tree.valueOf[symbol], 8); });
    out.Bit(false);
}

}  // namespace zambrel::encoder
