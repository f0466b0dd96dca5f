// SPDX-License-Identifier: MIT
// Builds the two-level decoding tables from a tree block's lookup tables and nodes.
#include "decoder/value_tables.h"

#include <algorithm>
#include <bit>

#include "decoder/allocator.h"

namespace {

constexpr std::uint32_t kFirstStart[kTreeCount] = {0, 4096, 8192, 12288};
constexpr std::uint32_t kFirstSteps = 12288 + kTypeLookupEntries;
constexpr std::uint32_t kStepBytes = sizeof(std::uint32_t) + sizeof(std::uint8_t);

// Only one tree block is decoded at a time, so one set of tables serves; a movie's tables
// stay until another block (or a remap) is decoded. The first levels are fixed-size and
// live here, so that a failed allocation costs speed (walks) and never a frame.
struct TableCache {
    const TreeBlock* block = nullptr;  // the tables were built from this block
    std::uint32_t generation = 0;      // at this tree block generation
    std::uint8_t control[kFirstSteps] = {};
    std::uint32_t word[kFirstSteps] = {};
    std::uint32_t* subWords = nullptr;  // one allocation: the words, then the control bytes
    std::uint32_t subCapacity = 0;      // steps
    ValueTables tables;

    TableCache() = default;
    TableCache(const TableCache&) = delete;
    TableCache& operator=(const TableCache&) = delete;
    ~TableCache() { ZambFree(subWords); }

    std::uint8_t* SubControls() { return reinterpret_cast<std::uint8_t*>(subWords + subCapacity); }
    bool ReserveSubtables(std::uint32_t steps);
};
TableCache Cache;

// Allocated afresh for every build, so a large movie's subtables do not outlive it.
bool TableCache::ReserveSubtables(std::uint32_t steps) {
    ZambFree(subWords);
    subWords = static_cast<std::uint32_t*>(ZambAllocate(steps * kStepBytes));
    subCapacity = subWords != nullptr ? steps : 0;
    return subWords != nullptr;
}

// Derives one tree's steps by walking its nodes exactly as DecodeValue walks them.
class TreeStepBuilder {
  public:
    TreeStepBuilder(const TreeBlock* trees, int tree)
        : trees_(trees),
          tree_(tree),
          width_(kLookupBits[tree]),
          marker_(trees->EscapeMarker),
          // Subtables stay within a small multiple of the tree's own nodes however its codes
          // are shaped; what does not fit is walked.
          budget_(2 * (trees->Sizes[tree] / kNodeBytes) + 256),
          control_(Cache.control + kFirstStart[tree]),
          word_(Cache.word + kFirstStart[tree]) {}

    void BuildFirstLevel();
    // Turns the first level's walks into subtables from `cursor` on when `fill`, else only
    // counts the steps they take. Returns the steps used.
    std::uint32_t PlaceSubtables(std::uint32_t cursor, bool fill);

  private:
    struct Reach {
        std::uint32_t outcomes = 0;
        std::uint32_t depth = 0;
    };

    bool IsLeaf(std::uint32_t offset) const {
        return NodeLowBits(LoadNode(trees_, offset)) != marker_;
    }
    std::uint32_t Follow(std::uint32_t& offset, std::uint32_t path, std::uint32_t count) const;
    void Explore(std::uint32_t offset, std::uint32_t depth, Reach& reach) const;
    std::uint32_t SubtableBits(std::uint32_t offset) const;
    void SetEnding(std::uint8_t& control, std::uint32_t& word, std::uint32_t offset,
                   std::uint32_t used) const;
    void FillSubtable(std::uint32_t start, std::uint32_t offset, std::uint32_t bits);

    const TreeBlock* trees_;
    int tree_;
    std::uint32_t width_;
    std::uint32_t marker_;
    std::uint32_t budget_;
    std::uint8_t* control_;
    std::uint32_t* word_;
};

// Follows up to `count` bits of `path` (its lowest bit first) from the node at `offset`,
// stopping at a leaf. Returns the bits used.
std::uint32_t TreeStepBuilder::Follow(std::uint32_t& offset, std::uint32_t path,
                                      std::uint32_t count) const {
    std::uint32_t used = 0;
    while (used < count && !IsLeaf(offset)) {
        const std::uint32_t node = LoadNode(trees_, offset);
        offset += ((path >> used) & 1) ? OneBranchDistance(node) : kNodeBytes;
        ++used;
    }
    return used;
}

// Counts the codes ending within kMaxSubtableBits below `offset` (a code going deeper
// counts once, where the subtable would hand it to a walk) and how deep they reach.
void TreeStepBuilder::Explore(std::uint32_t offset, std::uint32_t depth, Reach& reach) const {
    if (depth == kMaxSubtableBits || IsLeaf(offset)) {
        ++reach.outcomes;
        reach.depth = std::max(reach.depth, depth);
        return;
    }
    const std::uint32_t node = LoadNode(trees_, offset);
    Explore(offset + kNodeBytes, depth + 1, reach);
    Explore(offset + OneBranchDistance(node), depth + 1, reach);
}

// As deep as the codes under the node go, but never more than twice as many steps as it
// has codes there: a lopsided subtree would otherwise fill a table with copies.
std::uint32_t TreeStepBuilder::SubtableBits(std::uint32_t offset) const {
    Reach reach;
    Explore(offset, 0, reach);
    return std::min<std::uint32_t>(reach.depth, std::bit_width(reach.outcomes));
}

// A leaf that is the home of a recent value decodes to whatever that value is by then.
// Aliased homes (an absent tree's one node) hold the newest, which is stored last.
void TreeStepBuilder::SetEnding(std::uint8_t& control, std::uint32_t& word, std::uint32_t offset,
                                std::uint32_t used) const {
    const RecentValues& recent = trees_->Recent[tree_];
    for (std::uint32_t k = 0; k < 3; ++k) {
        if (recent.Location[k] == offset) {
            control = StepControl(kStepRecent0 + k, used);
            word = 0;
            return;
        }
    }
    control = StepControl(kStepLeaf, used);
    word = LoadNode(trees_, offset);
}

void TreeStepBuilder::BuildFirstLevel() {
    const std::uint32_t* lookup = TreeLookup(trees_, tree_);
    for (std::uint32_t i = 0; i < (1u << width_); ++i) {
        std::uint32_t offset = lookup[i] >> kLookupPositionShift;
        std::uint32_t used = std::min(lookup[i] & kLookupBitsMask, width_);
        used += Follow(offset, i >> used, width_ - used);
        if (IsLeaf(offset)) {
            SetEnding(control_[i], word_[i], offset, used);
        } else {
            control_[i] = StepControl(kStepWalk, used);
            word_[i] = offset;
        }
    }
}

void TreeStepBuilder::FillSubtable(std::uint32_t start, std::uint32_t offset, std::uint32_t bits) {
    std::uint32_t* words = Cache.subWords + start;
    std::uint8_t* controls = Cache.SubControls() + start;
    for (std::uint32_t j = 0; j < (1u << bits); ++j) {
        std::uint32_t end = offset;
        const std::uint32_t used = Follow(end, j, bits);
        if (IsLeaf(end)) {
            SetEnding(controls[j], words[j], end, used);
        } else {
            controls[j] = StepControl(kStepWalk, used);
            words[j] = end;
        }
    }
}

std::uint32_t TreeStepBuilder::PlaceSubtables(std::uint32_t cursor, bool fill) {
    std::uint32_t used = 0;
    for (std::uint32_t i = 0; i < (1u << width_); ++i) {
        if (StepKindOf(control_[i]) != kStepWalk) continue;
        const std::uint32_t bits = SubtableBits(word_[i]);
        if (used + (1u << bits) > budget_) break;
        if (fill) {
            FillSubtable(cursor + used, word_[i], bits);
            control_[i] = StepControl(kStepSubtable, bits);
            word_[i] = cursor + used;
        }
        used += 1u << bits;
    }
    return used;
}

void BuildTables(const TreeBlock* trees) {
    std::uint32_t total = 0;
    for (int tree = 0; tree < kTreeCount; ++tree) {
        TreeStepBuilder builder(trees, tree);
        builder.BuildFirstLevel();
        total += builder.PlaceSubtables(0, false);
    }
    if (Cache.ReserveSubtables(total)) {
        std::uint32_t cursor = 0;
        for (int tree = 0; tree < kTreeCount; ++tree) {
            cursor += TreeStepBuilder(trees, tree).PlaceSubtables(cursor, true);
        }
    }
    for (int tree = 0; tree < kTreeCount; ++tree) {
        Cache.tables.first[tree] = {Cache.control + kFirstStart[tree],
                                    Cache.word + kFirstStart[tree]};
    }
    Cache.tables.sub = {Cache.SubControls(), Cache.subWords};
}

}  // namespace

const ValueTables& ValueTablesFor(const TreeBlock* trees) {
    // A block at the same address with the same generation is the same block: a new block
    // or a remapped one has been through the builder or the remap, which count.
    const std::uint32_t generation = TreeBlockGeneration();
    if (trees != Cache.block || generation != Cache.generation) {
        BuildTables(trees);
        Cache.block = trees;
        Cache.generation = generation;
    }
    return Cache.tables;
}
