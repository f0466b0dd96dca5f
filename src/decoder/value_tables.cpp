// SPDX-License-Identifier: MIT
// Builds the two-level decoding tables from a tree block's lookup tables and nodes.
#include "decoder/value_tables.h"

#include <algorithm>
#include <bit>
#include <iterator>
#include <new>

#include "core/allocator.h"

namespace {

constexpr std::uint32_t kNarrowStart[kTreeCount] = {0, 4096, 8192, 12288};
constexpr std::uint32_t kNarrowSteps = 12288 + kTypeLookupEntries;
constexpr std::uint32_t kStepBytes = sizeof(std::uint32_t) + sizeof(std::uint8_t);

// Looking up the next value's step at guessed ends of this one pays when it saves a
// dependent look-up often enough to outweigh the branch it costs when every guess misses.
// Guessing is on for a tree when its usual lengths cover at least seven codes in eight. Two
// guesses do when they cover 15 codes in 16; otherwise a third look-up per pair costs less
// than the mispredicted branches and waits it spares.
constexpr std::uint32_t kGuessAtLeast = 7;
constexpr std::uint32_t kGuessOutOf = 8;
constexpr std::uint32_t kTwoGuessesAtLeast = 15;
constexpr std::uint32_t kTwoGuessesOutOf = 16;

// A wider first level pays for its size only when at most this share of a tree's values
// (weighted as its code lengths say they occur) would still need a second step at 12 bits.
constexpr std::uint32_t kWidenBelowShare = 16;  // one value in 16
// A tree stays narrow rather than widen in vain when at most this share of its values have
// codes longer than the narrow level.
constexpr std::uint32_t kMostlyShortShare = 2;  // one value in 2

// Steps in one allocation: the words, then the control bytes.
struct StepStore {
    std::uint32_t* words = nullptr;
    std::uint32_t capacity = 0;

    std::uint8_t* Controls() const { return reinterpret_cast<std::uint8_t*>(words + capacity); }
    // Allocated afresh for every build, so a large movie's tables do not outlive it.
    bool Reserve(std::uint32_t steps) {
        Release();
        words =
            steps != 0 ? static_cast<std::uint32_t*>(ZambAllocate(steps * kStepBytes)) : nullptr;
        capacity = words != nullptr ? steps : 0;
        return words != nullptr;
    }
    void Release() {
        ZambFree(words);
        words = nullptr;
        capacity = 0;
    }
};

}  // namespace

// A block's tables, built at its first decode and kept with it (TreeBlock::Tables) until the
// movie closes, so movies decoded in turn or on several threads never share or rebuild them.
// The narrow first levels are fixed-size parts of the record, so that a failed allocation of
// the wider levels or the subtables costs speed (narrow levels, walks) and never a frame.
struct TableCache {
    std::uint32_t generation = 0;  // the tables follow the block at this generation
    bool built = false;
    std::uint8_t control[kNarrowSteps] = {};
    std::uint32_t word[kNarrowSteps] = {};
    StepStore wide;  // the first levels wider than the format's lookup tables
    StepStore sub;
    ValueTables tables;

    TableCache() = default;
    TableCache(const TableCache&) = delete;
    TableCache& operator=(const TableCache&) = delete;
    ~TableCache() {
        wide.Release();
        sub.Release();
    }
};

namespace {

// Derives one tree's steps by walking its nodes as a value's code walks them: the lookup
// table first, then one bit per internal node.
class TreeStepBuilder {
  public:
    TreeStepBuilder(const TreeBlock* trees, int tree, StepArrays first, std::uint32_t width,
                    const StepStore& sub)
        : trees_(trees),
          tree_(tree),
          narrow_(kLookupBits[tree]),
          width_(width),
          marker_(trees->EscapeMarker),
          // Subtables stay within a small multiple of the tree's own nodes however its codes
          // are shaped; what does not fit is walked.
          budget_(2 * (trees->Sizes[tree] / kNodeBytes) + 256),
          control_(const_cast<std::uint8_t*>(first.control)),
          word_(const_cast<std::uint32_t*>(first.word)),
          sub_(sub) {}

    // How wide a first level suits the tree: the narrowest from 12 bits on after which
    // few enough values need a second step.
    static std::uint32_t SuitedWidth(const TreeBlock* trees, int tree);

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
    void SetStep(std::uint8_t& control, std::uint32_t& word, std::uint32_t offset,
                 std::uint32_t used) const;
    void SpreadStep(std::uint32_t index, std::uint32_t known, std::uint32_t offset,
                    std::uint32_t used);
    void FillFirstSteps(std::uint32_t index, std::uint32_t offset, std::uint32_t used);
    void FillSubtable(std::uint32_t start, std::uint32_t offset, std::uint32_t bits);

    const TreeBlock* trees_;
    int tree_;
    std::uint32_t narrow_;
    std::uint32_t width_;
    std::uint32_t marker_;
    std::uint32_t budget_;
    std::uint8_t* control_;
    std::uint32_t* word_;
    const StepStore& sub_;
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

// The share of values whose codes run past each width is read off the code lengths: a code
// of length d stands for 2^-d of the values. Counted in units of 2^-(kMaxFirstBits + 1), so
// the walk never goes deeper than one node past the widest first level.
std::uint32_t TreeStepBuilder::SuitedWidth(const TreeBlock* trees, int tree) {
    const std::uint32_t narrow = kLookupBits[tree];
    if (tree == TYPE_TREE) return narrow;  // its values are a few per run of blocks
    constexpr std::uint32_t kUnitDepth = kMaxFirstBits + 1;
    std::uint64_t ending[kUnitDepth + 1] = {};  // share of the codes ending at each depth
    struct Visit {
        std::uint32_t offset, depth;
    };
    Visit stack[kUnitDepth + 2];  // a pending 1-branch per level, and the node itself
    std::uint32_t top = 0;
    stack[top++] = {TreeNodesStart(trees, tree), 0};
    while (top != 0) {
        const Visit v = stack[--top];
        const std::uint32_t node = LoadNode(trees, v.offset);
        if (NodeLowBits(node) != trees->EscapeMarker || v.depth == kUnitDepth) {
            ending[v.depth] += std::uint64_t{1} << (kUnitDepth - v.depth);
            continue;
        }
        // The 0-branch is pushed last, so the stack holds one node per level.
        stack[top++] = {v.offset + OneBranchDistance(node), v.depth + 1};
        stack[top++] = {v.offset + kNodeBytes, v.depth + 1};
    }
    const std::uint64_t whole = std::uint64_t{1} << kUnitDepth;
    std::uint64_t beyond = whole;  // share of the codes longer than `width`
    for (std::uint32_t d = 0; d <= narrow; ++d) beyond -= ending[d];
    const std::uint64_t beyondNarrow = beyond;
    std::uint32_t width = narrow;
    while (width < kMaxFirstBits && beyond * kWidenBelowShare > whole) beyond -= ending[++width];
    // A tree of a few common values and a great many rare ones whose codes run past even the
    // widest level keeps the narrow level: widening would not spare the rare codes their
    // second step and would move the common ones out of the first-level cache. When the rare
    // codes are most of the tree, the wider level still ends more of them in one step.
    const bool mostlyShort = beyondNarrow * kMostlyShortShare <= whole;
    return beyond * kWidenBelowShare > whole && mostlyShort ? narrow : width;
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

// The step for a code that has reached `offset` after `used` bits: its ending, or a walk on.
void TreeStepBuilder::SetStep(std::uint8_t& control, std::uint32_t& word, std::uint32_t offset,
                              std::uint32_t used) const {
    if (IsLeaf(offset)) {
        SetEnding(control, word, offset, used);
    } else {
        control = StepControl(kStepWalk, used);
        word = offset;
    }
}

// Every step whose low `known` bits are `index` stands for the code that has reached
// `offset` after `used` bits.
void TreeStepBuilder::SpreadStep(std::uint32_t index, std::uint32_t known, std::uint32_t offset,
                                 std::uint32_t used) {
    std::uint8_t control;
    std::uint32_t word;
    SetStep(control, word, offset, used);
    for (std::uint32_t k = index; k < (1u << width_); k += 1u << known) {
        control_[k] = control;
        word_[k] = word;
    }
}

// The steps whose low `used` bits are `index`, for a code that has reached `offset` by
// those bits: its ending, a walk on from past the first level, or the codes below, which
// the bits above tell apart.
void TreeStepBuilder::FillFirstSteps(std::uint32_t index, std::uint32_t offset,
                                     std::uint32_t used) {
    if (used < width_ && !IsLeaf(offset)) {
        const std::uint32_t node = LoadNode(trees_, offset);
        FillFirstSteps(index, offset + kNodeBytes, used + 1);
        FillFirstSteps(index | 1u << used, offset + OneBranchDistance(node), used + 1);
        return;
    }
    SpreadStep(index, used, offset, used);
}

// The format's own lookup table starts every code; a code still
// open at its width goes on below for a wider first level. The wider steps share their low
// bits with a narrow one, so a code ending within those bits ends there for all of them.
void TreeStepBuilder::BuildFirstLevel() {
    const std::uint32_t* lookup = TreeLookup(trees_, tree_);
    for (std::uint32_t i = 0; i < (1u << narrow_); ++i) {
        std::uint32_t offset = lookup[i] >> kLookupPositionShift;
        std::uint32_t used = std::min(lookup[i] & kLookupBitsMask, narrow_);
        used += Follow(offset, i >> used, narrow_ - used);
        if (used < narrow_) {
            SpreadStep(i, narrow_, offset, used);
        } else {
            FillFirstSteps(i, offset, used);
        }
    }
}

void TreeStepBuilder::FillSubtable(std::uint32_t start, std::uint32_t offset, std::uint32_t bits) {
    std::uint32_t* words = sub_.words + start;
    std::uint8_t* controls = sub_.Controls() + start;
    for (std::uint32_t j = 0; j < (1u << bits); ++j) {
        std::uint32_t end = offset;
        const std::uint32_t used = Follow(end, j, bits);
        SetStep(controls[j], words[j], end, used);
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

// Where each tree's first level goes: the widened ones share one allocation; without it
// every tree keeps the format's width.
void PlaceFirstLevels(const TreeBlock* trees, TableCache& cache) {
    std::uint32_t widths[kTreeCount];
    std::uint32_t wideSteps = 0;
    for (int tree = 0; tree < kTreeCount; ++tree) {
        widths[tree] = TreeStepBuilder::SuitedWidth(trees, tree);
        if (widths[tree] != kLookupBits[tree]) wideSteps += 1u << widths[tree];
    }
    const bool widened = cache.wide.Reserve(wideSteps);
    std::uint32_t cursor = 0;
    for (int tree = 0; tree < kTreeCount; ++tree) {
        ValueTables& t = cache.tables;
        if (widened && widths[tree] != kLookupBits[tree]) {
            t.first[tree] = {cache.wide.Controls() + cursor, cache.wide.words + cursor};
            cursor += 1u << widths[tree];
        } else {
            widths[tree] = kLookupBits[tree];
            t.first[tree] = {cache.control + kNarrowStart[tree], cache.word + kNarrowStart[tree]};
        }
        t.firstBits[tree] = widths[tree];
        t.firstMask[tree] = (1u << widths[tree]) - 1;
    }
}

// Every first-level step stands for the same share of the codes, so counting the steps by
// the length they consume weighs each code by how often it occurs. Lengths no ending has
// are left at 0, which no guess then matches but an empty code.
void FindUsualLengths(ValueTables& t, int tree) {
    std::uint32_t steps[kMaxFirstBits + 1] = {};
    const std::uint32_t entries = 1u << t.firstBits[tree];
    for (std::uint32_t i = 0; i < entries; ++i) {
        const std::uint32_t control = t.first[tree].control[i];
        if (StepKindOf(control) < kStepSubtable) ++steps[StepBitsOf(control)];
    }
    std::uint64_t covered[kUsualLengths + 1] = {};  // by the commonest k lengths
    for (int k = 0; k < kUsualLengths; ++k) {
        const auto most = std::max_element(std::begin(steps), std::end(steps));
        t.usualBits[tree][k] = static_cast<std::uint8_t>(most - std::begin(steps));
        covered[k + 1] = covered[k] + *most;
        *most = 0;
    }
    // A first level of the format's width stays in the first-level cache, where a look-up
    // is short enough that the guesses' misses cost more than their overlap saves.
    const bool wide = t.firstBits[tree] > kLookupBits[tree];
    const bool twoDo = covered[kUsualLengths - 1] * kTwoGuessesOutOf >=
                       std::uint64_t{entries} * kTwoGuessesAtLeast;
    const std::uint64_t guessed = covered[twoDo ? kUsualLengths - 1 : kUsualLengths];
    t.guessNext[tree] = wide && guessed * kGuessOutOf >= std::uint64_t{entries} * kGuessAtLeast;
    t.guessThird[tree] = t.guessNext[tree] && !twoDo;
}

TreeStepBuilder BuilderFor(const TreeBlock* trees, int tree, const TableCache& cache) {
    return TreeStepBuilder(trees, tree, cache.tables.first[tree], cache.tables.firstBits[tree],
                           cache.sub);
}

void BuildTables(const TreeBlock* trees, TableCache& cache) {
    PlaceFirstLevels(trees, cache);
    std::uint32_t total = 0;
    for (int tree = 0; tree < kTreeCount; ++tree) {
        TreeStepBuilder builder = BuilderFor(trees, tree, cache);
        builder.BuildFirstLevel();
        total += builder.PlaceSubtables(0, false);
    }
    if (cache.sub.Reserve(total)) {
        std::uint32_t cursor = 0;
        for (int tree = 0; tree < kTreeCount; ++tree) {
            cursor += BuilderFor(trees, tree, cache).PlaceSubtables(cursor, true);
        }
    }
    cache.tables.sub = {cache.sub.Controls(), cache.sub.words};
    for (int tree = 0; tree < kTreeCount; ++tree) FindUsualLengths(cache.tables, tree);
    cache.generation = TreeBlockGeneration(trees);
    cache.built = true;
}

// A remap that went round RemapTreesAndTables leaves the block at a later generation.
bool TablesCurrentFor(const TreeBlock* trees, const TableCache& cache) {
    return cache.built && cache.generation == TreeBlockGeneration(trees);
}

// The leaf words among `count` steps from `first`, and in the subtables they lead to.
void RemapSteps(int tree, std::uint32_t first, std::uint32_t count, StepArrays steps,
                const StepArrays& sub, const std::uint8_t map[256]) {
    auto* words = const_cast<std::uint32_t*>(steps.word);
    for (std::uint32_t i = first; i < first + count; ++i) {
        const std::uint32_t control = steps.control[i];
        if (StepKindOf(control) == kStepLeaf) {
            words[i] = RemappedLeaf(tree, words[i], map);
        } else if (StepKindOf(control) == kStepSubtable) {
            RemapSteps(tree, words[i], 1u << StepBitsOf(control), sub, sub, map);
        }
    }
}

// The block's own tables, made at its first decode. Without memory for them a decode goes
// on with tables of the thread's own, built again for every chunk.
TableCache& CacheFor(TreeBlock* trees) {
    if (trees->Tables == nullptr) {
        if (void* memory = ZambAllocate(sizeof(TableCache)))
            trees->Tables = new (memory) TableCache;
    }
    if (trees->Tables != nullptr) return *trees->Tables;
    thread_local TableCache fallback;
    fallback.built = false;
    return fallback;
}

}  // namespace

void RemapTreesAndTables(TreeBlock* trees, const std::uint8_t map[256]) {
    TableCache* cache = trees->Tables;
    const bool current = cache != nullptr && TablesCurrentFor(trees, *cache);
    RemapTreeColours(trees, map);
    if (!current) return;
    for (const int tree : kRemappedTrees) {
        RemapSteps(tree, 0, 1u << cache->tables.firstBits[tree], cache->tables.first[tree],
                   cache->tables.sub, map);
    }
    cache->generation = TreeBlockGeneration(trees);
}

const ValueTables& ValueTablesFor(TreeBlock* trees) {
    TableCache& cache = CacheFor(trees);
    if (!TablesCurrentFor(trees, cache)) BuildTables(trees, cache);
    return cache.tables;
}

void ReleaseValueTables(TreeBlock* trees) {
    if (trees == nullptr || trees->Tables == nullptr) return;
    trees->Tables->~TableCache();
    ZambFree(trees->Tables);
    trees->Tables = nullptr;
}
