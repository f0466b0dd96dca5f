// SPDX-License-Identifier: MIT
// The tree builder alone: any tree data with any node-area sizes either is refused or gives
// trees whose table decoding agrees with a plain walk from the root and stays inside them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "decoder/trees.h"
#include "fuzz_input.h"
#include "tree_values.h"

namespace {

constexpr std::uint32_t kWorkOffset = 4096;
constexpr std::uint32_t kMinWork = 8192;
// The largest tree there is: all 65,536 values as leaves (131,071 nodes) and the three spare.
constexpr std::uint32_t kMaxNodes = 131071 + 3;
constexpr int kValuesPerTree = 512;

// A size word: bits 4 and up count nodes, bits 0-3 shift that count down. Most inputs so get
// small node areas, which are quick to clear and copy, while any input can still ask for the
// largest tree by a shift of 0 (the form the seeds are written in).
std::uint32_t NodeAreaSize(std::uint32_t word) {
    const std::uint32_t nodes = ((word >> 4) % (kMaxNodes + 1)) >> (word & 15);
    return nodes * kNodeBytes;
}

// Bits consumed so far; the buffered count alone differs, as the table step reads ahead.
std::uint64_t BitsUsed(const BitReader& reader, const std::uint8_t* start) {
    return std::uint64_t(reader.next - start) * 8 + reader.padding - reader.count;
}

void CompareTableWithWalk(const std::vector<std::uint8_t>& built, const std::uint8_t* bits,
                          std::size_t bitBytes) {
    std::vector<std::uint8_t> byTable(built), byWalk(built);
    auto* tableTrees = reinterpret_cast<TreeBlock*>(byTable.data());
    auto* walkTrees = reinterpret_cast<TreeBlock*>(byWalk.data());
    for (int tree = 0; tree < kTreeCount; ++tree) {
        if (tableTrees->Sizes[tree] == 0) continue;
        BitReader a, b;
        StartBits(a, bits, bits + bitBytes);
        StartBits(b, bits, bits + bitBytes);
        for (int i = 0; i < kValuesPerTree && !a.overrun; ++i) {
            const std::uint32_t viaTable = DecodeValue(tableTrees, tree, a);
            const std::uint32_t viaWalk = DecodeValueByWalk(walkTrees, tree, b);
            if (viaTable != viaWalk || BitsUsed(a, bits) != BitsUsed(b, bits)) std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in{data, size};
    std::uint32_t sizes[kTreeCount];
    std::uint32_t nodeBytes = 0;
    for (std::uint32_t& s : sizes) {
        s = NodeAreaSize(in.Word());
        nodeBytes += s;
    }
    const auto treeDataSize = static_cast<std::uint32_t>(std::min<std::size_t>(in.size, 1u << 20));
    std::vector<std::uint8_t> work(std::max(kMinWork, kWorkOffset + ((treeDataSize + 3) & ~3u)));
    std::memcpy(work.data() + kWorkOffset, in.data, treeDataSize);
    // Words of the tree block are read through memcpy, so a byte vector is a fine home.
    std::vector<std::uint8_t> block(kTreeNodesOffset + nodeBytes);
    auto* trees = reinterpret_cast<TreeBlock*>(block.data());
    if (BuildTrees(work.data(), treeDataSize, trees, sizes) != TreeBuild::Built) return 0;
    // The tree data itself serves as a bit stream to decode: arbitrary, and free.
    CompareTableWithWalk(block, in.data, in.size);
    return 0;
}
