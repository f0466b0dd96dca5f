// SPDX-License-Identifier: MIT
// The code trees: reading, building, decoding through the tables and escapes, remapping.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <memory>
#include <random>

#include "core/allocator.h"
#include "decoder/trees.h"
#include "tree_values.h"
#include "movie_bytes.h"

namespace {

using namespace decoder_test;

// A built tree block with its own storage, from four trees and the header sizes.
struct BuiltTrees {
    std::vector<std::uint32_t> storage;
    TreeBuild result = TreeBuild::Built;
    TreeBlock* block() { return reinterpret_cast<TreeBlock*>(storage.data()); }
    // What decoding reads: the block without the count of remaps it keeps for its tables.
    std::vector<std::uint32_t> Decoded() const {
        std::vector<std::uint32_t> words = storage;
        words[offsetof(TreeBlock, Generation) / 4] = 0;
        return words;
    }
};

std::uint32_t SizeFor(const SixteenBitTree& tree) {
    return 4 * std::max(NodeCount(tree), 1u) + 12;
}

BuiltTrees Build(const std::array<SixteenBitTree, 4>& trees,
                 std::array<std::uint32_t, 4> sizes = {}, std::int32_t trimBytes = 0) {
    BitWriter out;
    for (const SixteenBitTree& tree : trees) WriteSixteenBitTree(out, tree);
    // No sizes given: each tree gets exactly what its nodes and spare nodes need.
    const bool given =
        std::any_of(sizes.begin(), sizes.end(), [](std::uint32_t s) { return s != 0; });
    std::uint32_t total = 0;
    for (int i = 0; i < 4; ++i) {
        if (!given) sizes[i] = SizeFor(trees[i]);
        total += sizes[i];
    }
    const auto dataSize = static_cast<std::uint32_t>(out.bytes.size() - trimBytes);
    std::vector<std::uint8_t> work(std::max<std::size_t>(8192, 4096 + dataSize));
    std::copy_n(out.bytes.begin(), dataSize, work.begin() + 4096);
    BuiltTrees built;
    built.storage.resize((kTreeNodesOffset + total) / 4);
    built.result = BuildTrees(work.data(), dataSize, built.block(), sizes.data());
    return built;
}

SixteenBitTree Absent() {
    return SixteenBitTree{false, {}, {}};
}
SixteenBitTree Tree(Shape shape, std::array<std::uint32_t, 3> escapes = {0xFFFF, 0xFFFE, 0xFFFD}) {
    SixteenBitTree tree{true, std::move(shape), {}};
    std::copy(escapes.begin(), escapes.end(), tree.escapes);
    return tree;
}

// A stream for DecodeValue from bits given as a string of '0' and '1'.
struct Bits {
    std::vector<std::uint8_t> bytes;
    BitReader reader;
    explicit Bits(const std::string& text) {
        BitWriter out;
        for (char c : text) out.Bit(c == '1');
        bytes = out.bytes;
        StartBits(reader, bytes.data(), bytes.data() + bytes.size());
    }
    std::uint32_t Consumed() const {
        return static_cast<std::uint32_t>(8 * (reader.next - bytes.data())) + reader.padding -
               reader.count;
    }
};

TEST(ByteTrees, TheTwoLeafExampleReadsAndDecodes) {
    // 1, 0 (5), 0 (9), closing 0
    Bits bits(
        "1"
        "0"
        "10100000"
        "0"
        "10010000"
        "0");
    std::uint32_t nodes[512];
    ASSERT_EQ(ReadByteTree(bits.reader, nodes), 3u);
    EXPECT_EQ(bits.Consumed(), 20u);
    Bits codes("01");
    EXPECT_EQ(DecodeByte(nodes, codes.reader), 5u);
    EXPECT_EQ(DecodeByte(nodes, codes.reader), 9u);
}

TEST(ByteTrees, ASingleLeafDecodesWithoutConsumingBits) {
    Bits bits(
        "0"
        "11000000"
        "0");
    std::uint32_t nodes[512];
    ASSERT_EQ(ReadByteTree(bits.reader, nodes), 1u);
    Bits codes("1111");
    EXPECT_EQ(DecodeByte(nodes, codes.reader), 3u);
    EXPECT_EQ(codes.Consumed(), 0u);
}

TEST(ByteTrees, MoreThan511NodesIsRefusedAndLeavesASafeTree) {
    // A chain of 256 internal nodes with 257 leaves: 513 nodes.
    BitWriter out;
    for (int i = 0; i < 256; ++i) {
        out.Bit(1);
        out.Bit(0);
        out.Put(i & 0xFF, 8);
    }
    out.Bit(0);
    out.Put(7, 8);
    out.Bit(0);
    BitReader bits;
    StartBits(bits, out.bytes.data(), out.bytes.data() + out.bytes.size());
    std::uint32_t nodes[512];
    EXPECT_EQ(ReadByteTree(bits, nodes), 0u);
    Bits codes("1111");
    EXPECT_EQ(DecodeByte(nodes, codes.reader), 0u);
}

TEST(ByteTrees, AFullTreeOf511NodesIsAccepted) {
    BitWriter out;
    WriteByteTree(out, IdentityByteTree());
    BitReader bits;
    StartBits(bits, out.bytes.data(), out.bytes.data() + out.bytes.size());
    std::uint32_t nodes[512];
    ASSERT_EQ(ReadByteTree(bits, nodes), 511u);
    Bits codes("10110010");
    EXPECT_EQ(DecodeByte(nodes, codes.reader), 0x4Du);
}

TEST(ByteTrees, ATreeCutShortByTheStreamEndIsRefused) {
    BitWriter out;
    WriteByteTree(out, IdentityByteTree());
    BitReader bits;
    StartBits(bits, out.bytes.data(), out.bytes.data() + out.bytes.size() / 2);
    std::uint32_t nodes[512];
    EXPECT_EQ(ReadByteTree(bits, nodes), 0u);
}

// Recent values, model side: what the three escapes must give.
struct RecentModel {
    std::uint32_t recent[3] = {0, 0, 0};
    void Saw(std::uint32_t value) {
        if (value == recent[0]) return;
        recent[2] = recent[1];
        recent[1] = recent[0];
        recent[0] = value;
    }
};

// Walks the shape by the given bits; an escape leaf yields its recent value.
std::uint32_t ModelDecode(const SixteenBitTree& tree, RecentModel& model, BitReader& bits) {
    // Pre-order index of each node's 1-branch child.
    std::size_t index = 0;
    while (!tree.shape[index].leaf) {
        if (ReadBit(bits)) {
            // Skip the 0-branch subtree.
            std::size_t open = 1;
            std::size_t k = index + 1;
            while (open > 0) {
                open += tree.shape[k].leaf ? -1 : 1;
                ++k;
            }
            index = k;
        } else {
            index += 1;
        }
    }
    std::uint32_t value = tree.shape[index].value;
    for (int e = 0; e < 3; ++e) {
        if (value == tree.escapes[e]) {
            value = model.recent[e];
            break;
        }
    }
    model.Saw(value);
    return value;
}

TEST(SixteenBitTrees, RecentValuesFollowTheExampleSequence) {
    // Codes: 00 -> 5, 01 -> 7, 10 -> escape 0, 110 -> escape 1, 111 -> escape 2.
    const Shape shape =
        Join(Join(Leaf(5), Leaf(7)), Join(Leaf(0xFFFF), Join(Leaf(0xFFFE), Leaf(0xFFFD))));
    BuiltTrees built = Build({Absent(), Tree(shape), Absent(), Absent()});
    ASSERT_EQ(built.result, TreeBuild::Built);
    TreeBlock* trees = built.block();
    ResetRecentValues(trees);
    Bits bits(
        "00"
        "00"
        "01"
        "111"
        "110"
        "10");
    EXPECT_EQ(DecodeValue(trees, COLOUR_TREE, bits.reader), 5u);
    EXPECT_EQ(DecodeValue(trees, COLOUR_TREE, bits.reader), 5u);
    EXPECT_EQ(DecodeValue(trees, COLOUR_TREE, bits.reader), 7u);
    // Recent values are now 7, 5, 0: escape 2 gives 0 and makes them 0, 7, 5.
    EXPECT_EQ(DecodeValue(trees, COLOUR_TREE, bits.reader), 0u);
    EXPECT_EQ(DecodeValue(trees, COLOUR_TREE, bits.reader), 7u);  // escape 1: 7 -> 7, 0, 5
    EXPECT_EQ(DecodeValue(trees, COLOUR_TREE, bits.reader), 7u);  // escape 0: the newest
    EXPECT_EQ(bits.Consumed(), 14u);
    // Every video chunk starts again from zeros.
    ResetRecentValues(trees);
    Bits again(
        "10"
        "110"
        "111");
    for (int i = 0; i < 3; ++i) EXPECT_EQ(DecodeValue(trees, COLOUR_TREE, again.reader), 0u);
}

TEST(SixteenBitTrees, EscapesAbsentFromTheTreeNeedThreeSpareNodes) {
    const SixteenBitTree tree = Tree(Join(Leaf(1), Leaf(2)));  // 3 nodes, no escape leaves
    BuiltTrees fits = Build({tree, Absent(), Absent(), Absent()}, {4 * 3 + 12, 12, 12, 12});
    EXPECT_EQ(fits.result, TreeBuild::Built);
    BuiltTrees tooSmall = Build({tree, Absent(), Absent(), Absent()}, {4 * 3 + 8, 12, 12, 12});
    EXPECT_EQ(tooSmall.result, TreeBuild::TooManyNodes);
    // With all three escapes in the tree, no spare node is needed.
    const SixteenBitTree homed =
        Tree(Join(Join(Leaf(1), Leaf(9)), Join(Leaf(8), Leaf(7))), {9, 8, 7});
    BuiltTrees exact = Build({homed, Absent(), Absent(), Absent()}, {4 * 7, 12, 12, 12});
    EXPECT_EQ(exact.result, TreeBuild::Built);
    BuiltTrees overfull = Build({homed, Absent(), Absent(), Absent()}, {4 * 6, 12, 12, 12});
    EXPECT_EQ(overfull.result, TreeBuild::TooManyNodes);
}

TEST(SixteenBitTrees, SingleLeafAndAbsentTreesDecodeWithoutConsumingBits) {
    BuiltTrees built = Build({Tree(Leaf(0x1234)), Absent(), Absent(), Tree(Leaf(0x2A03))});
    ASSERT_EQ(built.result, TreeBuild::Built);
    ResetRecentValues(built.block());
    Bits bits("1011");
    EXPECT_EQ(DecodeValue(built.block(), PATTERN_TREE, bits.reader), 0x1234u);
    EXPECT_EQ(DecodeValue(built.block(), TYPE_TREE, bits.reader), 0x2A03u);
    EXPECT_EQ(DecodeValue(built.block(), COLOUR_TREE, bits.reader), 0u);
    EXPECT_EQ(DecodeValue(built.block(), FULL_TREE, bits.reader), 0u);
    EXPECT_EQ(bits.Consumed(), 0u);
}

TEST(SixteenBitTrees, TheEscapeMarkerIsTheLowestValueNoLeafHolds) {
    // Recent homes hold 0, so 0 is always taken; 1 and 2 are leaves here.
    BuiltTrees built = Build({Tree(Join(Leaf(1), Leaf(2))), Absent(), Tree(Leaf(4)), Absent()});
    ASSERT_EQ(built.result, TreeBuild::Built);
    EXPECT_EQ(built.block()->EscapeMarker, 3u);
}

TEST(SixteenBitTrees, BadTreeDataIsRefused) {
    const SixteenBitTree tree = Tree(Join(Leaf(1), Join(Leaf(2), Leaf(3))));
    EXPECT_EQ(Build({tree, tree, tree, tree}, {}, 3).result, TreeBuild::ShortData);
    EXPECT_EQ(Build({tree, tree, tree, tree}, {12, 0, 0, 0}).result, TreeBuild::TooManyNodes);
    EXPECT_EQ(Build({Absent(), Absent(), Absent(), Absent()}, {12, 12, 12, 0}).result,
              TreeBuild::TooManyNodes);
}

// A random full binary tree of `leaves` leaves, sometimes lopsided, values from a small set
// that includes the escapes.
Shape RandomShape(std::mt19937& random, std::uint32_t leaves, const std::uint32_t escapes[3]) {
    if (leaves == 1) {
        const std::uint32_t pick = random() % 8;
        return Leaf(pick < 3 ? escapes[pick] : static_cast<std::uint32_t>(random() % 40));
    }
    const bool lopsided = random() % 3 == 0;
    const std::uint32_t zero = lopsided ? 1 : 1 + random() % (leaves - 1);
    return Join(RandomShape(random, zero, escapes), RandomShape(random, leaves - zero, escapes));
}

// A movie's trees carry each escape in at most one leaf; earlier copies become plain values.
void KeepLastEscapeLeaves(SixteenBitTree& tree, std::mt19937& random) {
    bool seen[3] = {};
    for (std::size_t i = tree.shape.size(); i-- > 0;) {
        ShapeNode& node = tree.shape[i];
        if (!node.leaf) continue;
        for (int e = 0; e < 3; ++e) {
            if (node.value != tree.escapes[e]) continue;
            if (seen[e]) node.value = random() % 40;
            seen[e] = true;
            break;
        }
    }
}

TEST(SixteenBitTrees, TableDecodingEqualsTheBitByBitWalkAndTheModel) {
    std::mt19937 random(1234);
    for (int round = 0; round < 40; ++round) {
        std::array<SixteenBitTree, 4> trees;
        for (int t = 0; t < 4; ++t) {
            trees[t].escapes[0] = 100 + t;
            trees[t].escapes[1] = 200 + t;
            trees[t].escapes[2] = random() % 2 ? 300 + t : 100 + t;  // repeats escape 0 sometimes
            trees[t].shape = RandomShape(random, 1 + random() % 60, trees[t].escapes);
            KeepLastEscapeLeaves(trees[t], random);
        }
        BuiltTrees table = Build(trees);
        BuiltTrees walk = Build(trees);
        ASSERT_EQ(table.result, TreeBuild::Built);
        std::vector<std::uint8_t> stream(600);
        for (auto& byte : stream) byte = static_cast<std::uint8_t>(random());
        BitReader a, b, m;
        StartBits(a, stream.data(), stream.data() + stream.size());
        b = a;
        m = a;
        ResetRecentValues(table.block());
        ResetRecentValues(walk.block());
        RecentModel models[4];
        for (int i = 0; i < 400; ++i) {
            const int t = static_cast<int>(random() % 4);
            const std::uint32_t expected = ModelDecode(trees[t], models[t], m);
            ASSERT_EQ(DecodeValue(table.block(), t, a), expected)
                << "round " << round << " value " << i;
            ASSERT_EQ(DecodeValueByWalk(walk.block(), t, b), expected);
        }
        const auto consumed = [&](const BitReader& r) {
            return 8 * (r.next - stream.data()) + r.padding - r.count;
        };
        EXPECT_EQ(consumed(a), consumed(m));
        EXPECT_EQ(consumed(b), consumed(m));
    }
}

TEST(SixteenBitTrees, DeepTreesPastTheTableDecode) {
    // A chain 40 deep: codes 1...10 reach beyond the 12 bits of the table.
    Shape shape = Leaf(40);
    for (std::uint32_t depth = 40; depth-- > 0;) shape = Join(Leaf(depth), shape);
    BuiltTrees built = Build({Tree(shape), Absent(), Absent(), Absent()});
    ASSERT_EQ(built.result, TreeBuild::Built);
    ResetRecentValues(built.block());
    Bits bits(std::string(30, '1') + "0" + std::string(40, '1'));
    EXPECT_EQ(DecodeValue(built.block(), PATTERN_TREE, bits.reader), 30u);
    EXPECT_EQ(DecodeValue(built.block(), PATTERN_TREE, bits.reader), 40u);
    EXPECT_EQ(bits.Consumed(), 71u);
}

TEST(Remapping, TwoRemapsEqualTheSecondAloneAndIdentityRestores) {
    const std::uint32_t escapes[3] = {0xFFFF, 0xFFFE, 0xFFFD};
    std::mt19937 random(99);
    std::array<SixteenBitTree, 4> trees;
    for (int t = 0; t < 4; ++t) {
        trees[t].shape = RandomShape(random, 30, escapes);
        std::copy(escapes, escapes + 3, trees[t].escapes);
        for (ShapeNode& node : trees[t].shape) {
            if (node.leaf && node.value < 0xFFF0) node.value = random() & 0xFFFF;
        }
    }
    trees[TYPE_TREE].shape = Join(Leaf(0x2A03), Join(Leaf(0x2A02), Leaf(0x1101)));
    std::uint8_t first[256], second[256], identity[256];
    for (int i = 0; i < 256; ++i) {
        first[i] = static_cast<std::uint8_t>(random());
        second[i] = static_cast<std::uint8_t>(255 - i);
        identity[i] = static_cast<std::uint8_t>(i);
    }
    BuiltTrees twice = Build(trees);
    BuiltTrees once = Build(trees);
    BuiltTrees original = Build(trees);
    ASSERT_EQ(twice.result, TreeBuild::Built);
    RemapTreeColours(twice.block(), first);
    RemapTreeColours(twice.block(), second);
    RemapTreeColours(once.block(), second);
    EXPECT_EQ(twice.Decoded(), once.Decoded());
    RemapTreeColours(once.block(), identity);
    EXPECT_EQ(once.Decoded(), original.Decoded());

    // The solid word's colour byte is remapped, other type words and the pattern tree stay.
    ResetRecentValues(twice.block());
    Bits codes(
        "0"
        "10"
        "11");
    EXPECT_EQ(DecodeValue(twice.block(), TYPE_TREE, codes.reader), (255u - 0x2A) << 8 | 0x03);
    EXPECT_EQ(DecodeValue(twice.block(), TYPE_TREE, codes.reader), 0x2A02u);
    EXPECT_EQ(DecodeValue(twice.block(), TYPE_TREE, codes.reader), 0x1101u);
    // Colour and full trees start each chunk from the remapped zero.
    EXPECT_EQ(twice.block()->Recent[COLOUR_TREE].Reset, (255u * 257) << 16);
    EXPECT_EQ(twice.block()->Recent[PATTERN_TREE].Reset, 0u);
}

TEST(Remapping, ColourValuesDecodeThroughTheMap) {
    BuiltTrees built =
        Build({Absent(), Tree(Join(Leaf(0x0102), Leaf(0xFFFF))), Absent(), Absent()});
    ASSERT_EQ(built.result, TreeBuild::Built);
    std::uint8_t map[256];
    for (int i = 0; i < 256; ++i) map[i] = static_cast<std::uint8_t>(i + 10);
    RemapTreeColours(built.block(), map);
    ResetRecentValues(built.block());
    Bits bits(
        "1"
        "0"
        "1");
    EXPECT_EQ(DecodeValue(built.block(), COLOUR_TREE, bits.reader), 0x0A0Au);  // remapped zero
    EXPECT_EQ(DecodeValue(built.block(), COLOUR_TREE, bits.reader), 0x0B0Cu);
    EXPECT_EQ(DecodeValue(built.block(), COLOUR_TREE, bits.reader), 0x0B0Cu);  // recent 0
}

}  // namespace
