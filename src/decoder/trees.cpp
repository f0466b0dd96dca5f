// SPDX-License-Identifier: MIT
// Builds the code trees from the movie's tree data, and remaps their colour values.
#include "decoder/trees.h"

#include <cstring>

#include "core/movie_names.h"

namespace {

// While a tree is being read, a leaf's lower 16 bits are this mark and an internal node's
// are 0; the final pass replaces both with what decoding compares against.
constexpr std::uint32_t kBuildLeafMark = 1;
constexpr std::uint32_t kMaxBranchLeaves = 0xFFFF;
constexpr std::uint32_t kByteTreeScratch = 2 * kByteTreeBytes;
constexpr std::uint32_t kBitmapBytes = 8192;
constexpr int kColourCarryingTrees[] = {COLOUR_TREE, FULL_TREE};

std::uint32_t BuildLeaf(std::uint32_t value) {
    return (value << 16) | kBuildLeafMark;
}
bool IsBuildLeaf(std::uint32_t node) {
    return NodeLowBits(node) != 0;
}

// Open internal nodes (those whose 1-branch has not started) form a stack linked through
// their own node words: each holds 1 + the index of the next open node, 0 for none. That keeps
// the reader free of recursion and of any allocation, however deep the tree.
struct OpenNodes {
    std::uint32_t top = 0;  // 1 + index of the innermost open node; 0 = none
};

// Leaves in the 0-branch of open node i, when the leaf at index j has just completed it: the
// branch is nodes i + 1 .. j, a full binary subtree of j - i nodes.
std::uint32_t BranchLeaves(std::uint32_t i, std::uint32_t j) {
    return (j - i + 1) / 2;
}

void SubstituteByteTree(std::uint32_t* nodes) {
    nodes[0] = kByteLeaf | 0;
}

// Reads one 16-bit tree into its node array; fills in where its recent values live.
class SixteenBitTreeReader {
  public:
    SixteenBitTreeReader(std::uint8_t* work, BitReader& bits, TreeBlock* trees, int tree)
        : work_(work),
          bits_(bits),
          trees_(trees),
          tree_(tree),
          base_(TreeNodesStart(trees, tree)),
          capacity_(trees->Sizes[tree] / kNodeBytes) {}

    TreeBuild Read();

  private:
    TreeBuild ReadAbsent();
    TreeBuild ReadByteTrees();
    TreeBuild ReadNodes();
    TreeBuild GiveSpareHomes();
    void BuildLookup();
    std::uint32_t ReadLeafValue();
    std::uint32_t Offset(std::uint32_t index) const { return base_ + index * kNodeBytes; }
    std::uint32_t Node(std::uint32_t index) const { return LoadNode(trees_, Offset(index)); }
    void SetNode(std::uint32_t index, std::uint32_t node) {
        StoreNode(trees_, Offset(index), node);
    }

    std::uint32_t* LowTree() { return reinterpret_cast<std::uint32_t*>(work_); }
    std::uint32_t* HighTree() { return reinterpret_cast<std::uint32_t*>(work_ + kByteTreeBytes); }

    std::uint8_t* work_;
    BitReader& bits_;
    TreeBlock* trees_;
    int tree_;
    std::uint32_t base_;
    std::uint32_t capacity_;
    std::uint32_t count_ = 0;  // nodes of the tree itself
    std::uint32_t escapes_[3] = {};
    bool homed_[3] = {};
};

TreeBuild SixteenBitTreeReader::Read() {
    RecentValues& recent = trees_->Recent[tree_];
    recent.Reset = 0;
    if (ReadBit(bits_) == 0) return ReadAbsent();
    if (TreeBuild result = ReadByteTrees(); result != TreeBuild::Built) return result;
    for (std::uint32_t& escape : escapes_) escape = ReadBits(bits_, 16);
    if (TreeBuild result = ReadNodes(); result != TreeBuild::Built) return result;
    if (TreeBuild result = GiveSpareHomes(); result != TreeBuild::Built) return result;
    if (bits_.overrun) return TreeBuild::ShortData;
    BuildLookup();
    return TreeBuild::Built;
}

// An absent tree has nothing to decode; its table points every index at its one node, a leaf
// of value 0 that also holds its recent values, so a stream that uses it anyway reads zeros
// without consuming bits and without leaving the tree block.
TreeBuild SixteenBitTreeReader::ReadAbsent() {
    if (capacity_ < 1) return TreeBuild::TooManyNodes;
    SetNode(0, BuildLeaf(0));
    RecentValues& recent = trees_->Recent[tree_];
    for (std::uint32_t& location : recent.Location) location = Offset(0);
    std::uint32_t* table = TreeLookup(trees_, tree_);
    const std::uint32_t entries = 1u << kLookupBits[tree_];
    for (std::uint32_t i = 0; i < entries; ++i) table[i] = Offset(0) << kLookupPositionShift;
    return TreeBuild::Built;
}

// A byte tree that is not stored leaves its half of every value at 0.
TreeBuild SixteenBitTreeReader::ReadByteTrees() {
    SubstituteByteTree(LowTree());
    SubstituteByteTree(HighTree());
    if (ReadBit(bits_) != 0 && ReadByteTree(bits_, LowTree()) == 0) {
        return bits_.overrun ? TreeBuild::ShortData : TreeBuild::ByteTreeTooBig;
    }
    if (ReadBit(bits_) != 0 && ReadByteTree(bits_, HighTree()) == 0) {
        return bits_.overrun ? TreeBuild::ShortData : TreeBuild::ByteTreeTooBig;
    }
    return TreeBuild::Built;
}

std::uint32_t SixteenBitTreeReader::ReadLeafValue() {
    const std::uint32_t low = DecodeByte(LowTree(), bits_);
    const std::uint32_t high = DecodeByte(HighTree(), bits_);
    return high * 256 + low;
}

TreeBuild SixteenBitTreeReader::ReadNodes() {
    RecentValues& recent = trees_->Recent[tree_];
    OpenNodes open;
    for (;;) {
        // Zero bits past the end read as leaves, so the loop ends on any stream.
        if (count_ >= capacity_) return TreeBuild::TooManyNodes;
        const std::uint32_t index = count_++;
        if (ReadBit(bits_) != 0) {
            SetNode(index, open.top);
            open.top = index + 1;
            continue;
        }
        const std::uint32_t value = ReadLeafValue();
        SetNode(index, BuildLeaf(value));
        for (int e = 0; e < 3; ++e) {
            if (value != escapes_[e]) continue;
            // The last escape leaf in pre-order is the one whose node holds the recent value.
            SetNode(index, BuildLeaf(0));
            recent.Location[e] = Offset(index);
            homed_[e] = true;
            break;
        }
        if (open.top == 0) break;
        const std::uint32_t parent = open.top - 1;
        open.top = Node(parent);
        const std::uint32_t leaves = BranchLeaves(parent, index);
        if (leaves > kMaxBranchLeaves) return TreeBuild::BranchTooBig;
        SetNode(parent, leaves << 16);
    }
    ReadBit(bits_);  // the closing bit
    return bits_.overrun ? TreeBuild::ShortData : TreeBuild::Built;
}

TreeBuild SixteenBitTreeReader::GiveSpareHomes() {
    RecentValues& recent = trees_->Recent[tree_];
    std::uint32_t next = count_;
    for (int e = 0; e < 3; ++e) {
        if (homed_[e]) continue;
        if (next >= capacity_) return TreeBuild::TooManyNodes;
        SetNode(next, BuildLeaf(0));
        recent.Location[e] = Offset(next++);
    }
    return TreeBuild::Built;
}

void SixteenBitTreeReader::BuildLookup() {
    std::uint32_t* table = TreeLookup(trees_, tree_);
    const std::uint32_t bitCount = kLookupBits[tree_];
    const std::uint32_t entries = 1u << bitCount;
    for (std::uint32_t i = entries; i-- > 0;) {
        std::uint32_t index = 0;
        std::uint32_t used = 0;
        std::uint32_t node = Node(0);
        while (used < bitCount && !IsBuildLeaf(node)) {
            index += ((i >> used) & 1) ? NodeValue(node) * 2 : 1;
            node = Node(index);
            ++used;
        }
        table[i] = (Offset(index) << kLookupPositionShift) | used;
    }
}

// Visits every node that is a leaf at the end of the build, spare nodes included.
template <typename Visit>
void ForEachBuildLeaf(TreeBlock* trees, Visit visit) {
    for (int tree = 0; tree < kTreeCount; ++tree) {
        const std::uint32_t start = TreeNodesStart(trees, tree);
        const std::uint32_t count = trees->Sizes[tree] / kNodeBytes;
        for (std::uint32_t i = 0; i < count; ++i) visit(start + i * kNodeBytes);
    }
}

// The escape marker is the lowest 16-bit value that no leaf holds, so a single comparison
// tells an internal node from a leaf.
bool ChooseEscapeMarker(std::uint8_t* bitmap, TreeBlock* trees) {
    std::memset(bitmap, 0, kBitmapBytes);
    ForEachBuildLeaf(trees, [&](std::uint32_t offset) {
        const std::uint32_t node = LoadNode(trees, offset);
        if (!IsBuildLeaf(node)) return;
        const std::uint32_t value = NodeValue(node);
        bitmap[value >> 3] = static_cast<std::uint8_t>(bitmap[value >> 3] | (1u << (value & 7)));
    });
    for (std::uint32_t value = 0; value < 65536; ++value) {
        if ((bitmap[value >> 3] & (1u << (value & 7))) == 0) {
            trees->EscapeMarker = value;
            return true;
        }
    }
    return false;
}

void WriteFinalLowBits(TreeBlock* trees) {
    const std::uint32_t marker = trees->EscapeMarker;
    ForEachBuildLeaf(trees, [&](std::uint32_t offset) {
        const std::uint32_t node = LoadNode(trees, offset);
        const std::uint32_t low = IsBuildLeaf(node) ? NodeValue(node) : marker;
        StoreNode(trees, offset, (node & 0xFFFF0000u) | low);
    });
}

}  // namespace

TreeBuild BuildTrees(std::uint8_t* work, std::uint32_t treeDataSize, TreeBlock* trees,
                     const std::uint32_t sizes[kTreeCount]) {
    std::memset(trees, 0, sizeof(TreeBlock));
    std::uint32_t nodeBytes = 0;
    for (int tree = 0; tree < kTreeCount; ++tree) {
        trees->Sizes[tree] = sizes[tree];
        nodeBytes += sizes[tree];
    }
    std::memset(TreeBlockBytes(trees) + kTreeNodesOffset, 0, nodeBytes);
    BitReader bits;
    StartBits(bits, work + kByteTreeScratch, work + kByteTreeScratch + treeDataSize);
    for (int tree = 0; tree < kTreeCount; ++tree) {
        SixteenBitTreeReader reader(work, bits, trees, tree);
        if (TreeBuild result = reader.Read(); result != TreeBuild::Built) return result;
    }
    if (!ChooseEscapeMarker(work, trees)) return TreeBuild::NoMarker;
    WriteFinalLowBits(trees);
    return TreeBuild::Built;
}

void ResetRecentValues(TreeBlock* trees) {
    for (const RecentValues& recent : trees->Recent) {
        for (std::uint32_t location : recent.Location) StoreNode(trees, location, recent.Reset);
    }
}

std::uint32_t ReadByteTree(BitReader& bits, std::uint32_t* nodes) {
    const bool overrunBefore = bits.overrun;
    OpenNodes open;
    std::uint32_t count = 0;
    for (;;) {
        if (count >= kByteTreeMaxNodes) {
            SubstituteByteTree(nodes);
            return 0;
        }
        const std::uint32_t index = count++;
        if (ReadBit(bits) != 0) {
            nodes[index] = open.top;
            open.top = index + 1;
            continue;
        }
        nodes[index] = kByteLeaf | ReadBits(bits, 8);
        if (open.top == 0) break;
        const std::uint32_t parent = open.top - 1;
        open.top = nodes[parent];
        nodes[parent] = (index + 1 - parent) * kNodeBytes;
    }
    ReadBit(bits);  // the closing bit
    if (bits.overrun && !overrunBefore) {
        SubstituteByteTree(nodes);
        return 0;
    }
    return count;
}

std::uint32_t RemappedLeaf(int tree, std::uint32_t node, const std::uint8_t map[256]) {
    const std::uint32_t value = NodeLowBits(node);
    std::uint32_t mapped = value;
    if (tree == COLOUR_TREE || tree == FULL_TREE) {
        mapped = map[value & 0xFF] + 256u * map[value >> 8];
    } else if (tree == TYPE_TREE && (value & 3) == BLOCK_SOLID) {
        mapped = (static_cast<std::uint32_t>(map[value >> 8]) << 8) | (value & 0xFF);
    } else {
        return node;  // patterns and the other block types carry no colour
    }
    return (mapped << 16) | value;
}

void RemapTreeColours(TreeBlock* trees, const std::uint8_t map[256]) {
    const std::uint32_t marker = trees->EscapeMarker;
    for (const int tree : kRemappedTrees) {
        const std::uint32_t start = TreeNodesStart(trees, tree);
        const std::uint32_t count = trees->Sizes[tree] / kNodeBytes;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint32_t offset = start + i * kNodeBytes;
            const std::uint32_t node = LoadNode(trees, offset);
            if (NodeLowBits(node) != marker)
                StoreNode(trees, offset, RemappedLeaf(tree, node, map));
        }
    }
    for (const int tree : kColourCarryingTrees) trees->Recent[tree].Reset = (map[0] * 257u) << 16;
    trees->Generation += 1;
}
