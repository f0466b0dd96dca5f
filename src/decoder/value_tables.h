// SPDX-License-Identifier: MIT
// Decoding tables derived from a tree block, so that a video value costs one or two table
// steps instead of a table step and a walk through the nodes bit by bit.
#pragma once

#include <cstdint>

#include "decoder/trees.h"

// A step is a control byte and a word, kept in two parallel arrays: the control byte is
// all the next step depends on, and a byte array of it stays in the first-level cache even
// for trees of tens of thousands of leaves, while the words are fetched alongside.
//
// Control byte: the kind in the top three bits, a bit count (up to 16) in the low five.
//   leaf       consumes the count; the word is the leaf's node word
//   recent k   consumes the count; the value is the tree's recent value k (an escape leaf)
//   subtable   consumes the tree's whole first-level width; the count is how many further bits
//              index the subtable, which starts at the word (in the subtable arrays)
//   walk       consumes the count; the code goes on from the internal node whose offset in
//              the tree block is the word, one bit at a time (codes too deep for the tables,
//              or all of them when the subtables could not be allocated)
enum StepKind : std::uint8_t {
    kStepLeaf = 0,
    kStepRecent0 = 1,  // recent k is kStepRecent0 + k
    kStepSubtable = 4,
    kStepWalk = 5,
    // Never in a table: the block loop's mark for a step it guessed wrong and must look up.
    kStepUnknown = 7,
};
inline constexpr std::uint8_t StepControl(std::uint32_t kind, std::uint32_t bits) {
    return static_cast<std::uint8_t>(kind << 5 | bits);
}
inline constexpr std::uint32_t StepKindOf(std::uint32_t control) {
    return control >> 5;
}
inline constexpr std::uint32_t StepBitsOf(std::uint32_t control) {
    return control & 31;
}

// A first level is as wide as the format's own lookup table (12 bits, 10 for the type
// tree), or wider for a tree whose codes mostly run past 12 bits. The widest first level and
// the deepest subtable together are what one refill of either stream form must hold for a
// value.
inline constexpr std::uint32_t kMaxFirstBits = 16;
inline constexpr std::uint32_t kMaxSubtableBits = 8;

inline constexpr int kUsualLengths = 3;

struct StepArrays {
    const std::uint8_t* control = nullptr;
    const std::uint32_t* word = nullptr;
};

struct ValueTables {
    StepArrays first[kTreeCount] = {};         // 1 << firstBits[tree] steps each
    std::uint32_t firstBits[kTreeCount] = {};  // kLookupBits[tree] to kMaxFirstBits
    std::uint32_t firstMask[kTreeCount] = {};  // (1 << firstBits[tree]) - 1
    StepArrays sub;                            // every tree's subtables
    // The commonest lengths of the codes that end in each tree's first level, commonest
    // first, and whether they are so common that the block loop should look up the next
    // value's step at the first two (or, with guessThird, all three) before it knows where
    // this value ends.
    std::uint8_t usualBits[kTreeCount][kUsualLengths] = {};
    bool guessNext[kTreeCount] = {};
    bool guessThird[kTreeCount] = {};
};

// The tables for `trees`, made at the block's first decode and kept with it, built again
// only after a remap other than through RemapTreesAndTables. Decodes exactly as the lookup
// table and a walk through the nodes do. Each block has tables of its own, so different
// blocks may be decoded on different threads at once.
const ValueTables& ValueTablesFor(TreeBlock* trees);

// Remaps the block's colours (RemapTreeColours) and keeps its tables, when they were
// current: a remap changes only the leaves' words, never the shape of the codes, so those
// are brought up to date in place rather than built again.
void RemapTreesAndTables(TreeBlock* trees, const std::uint8_t map[256]);

// Frees the block's tables; done before the block itself is freed or built again.
void ReleaseValueTables(TreeBlock* trees);
