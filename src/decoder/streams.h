// SPDX-License-Identifier: MIT
// The two ways the block loop reads a video chunk: 32 bits buffered and refilled 16 at a
// time, or 64 bits buffered and refilled 32 at a time. Both read the same bits in the same
// order, so they give the same values; the wide one refills half as often.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "decoder/trees.h"
#include "decoder/value_tables.h"

static_assert(std::endian::native == std::endian::little, "pixel rows are stored little-endian");

// Never reads at or past `end`: a chunk that stops early goes on as zero bits, which decode
// to garbage blocks but never to a read outside the frame buffer.
//
// The block loop works on its own copy of the stream, so everything here can live in
// registers; the trees' recent values are kept here too, and go back into their nodes
// when the chunk is done.
template <class Word, unsigned RefillBits>
struct BlockStream {
    using BufferWord = Word;
    static constexpr unsigned kRefillBits = RefillBits;
    static constexpr unsigned kRefillBytes = RefillBits / 8;

    const std::uint8_t* next = nullptr;
    const std::uint8_t* end = nullptr;
    Word buffer = 0;  // bit 0 is the next bit of the stream
    unsigned count = 0;
    TreeBlock* trees = nullptr;
    ValueTables tables;
    std::uint32_t marker = 0;
    std::uint32_t recent[kTreeCount][3] = {};  // node words, newest first
    std::uint32_t homes[kTreeCount][3] = {};   // the nodes they belong in

    void Start(const std::uint8_t* start, const std::uint8_t* stop, TreeBlock* block,
               const ValueTables& steps) {
        next = start;
        end = stop < start ? start : stop;
        buffer = 0;
        count = 0;
        trees = block;
        tables = steps;
        marker = block->EscapeMarker;
        for (int t = 0; t < kTreeCount; ++t) {
            for (int k = 0; k < 3; ++k) {
                homes[t][k] = block->Recent[t].Location[k];
                recent[t][k] = LoadNode(block, homes[t][k]);
            }
        }
    }

    // Leaves the recent values where UpdateRecentValues would have left them, one value at a
    // time. Stored oldest first, so where homes coincide the newest value is the one that
    // stays.
    void Finish() {
        for (int t = 0; t < kTreeCount; ++t) {
            for (int k = 3; k-- > 0;) StoreNode(trees, homes[t][k], recent[t][k]);
        }
    }

    // After this at least RefillBits bits are buffered: enough for one table step.
    void Fill() {
        if (count < RefillBits) {
            buffer |= static_cast<Word>(Fetch()) << count;
            count += RefillBits;
        }
    }

    std::uint32_t Peek(unsigned n) const {
        return static_cast<std::uint32_t>(buffer) & ((1u << n) - 1);
    }
    void Drop(unsigned n) {
        buffer >>= n;
        count -= n;
    }
    std::uint32_t Bit() {
        if (count == 0) Fill();
        const std::uint32_t bit = static_cast<std::uint32_t>(buffer) & 1;
        Drop(1);
        return bit;
    }

  private:
    std::uint64_t Fetch() {
        if (static_cast<std::size_t>(end - next) >= kRefillBytes) {
            std::uint64_t value = 0;
            std::memcpy(&value, next, kRefillBytes);
            next += kRefillBytes;
            return value;
        }
        std::uint64_t value = 0;
        for (unsigned i = 0; next < end; ++i) value |= std::uint64_t{*next++} << (8 * i);
        return value;
    }
};

using PlainStream = BlockStream<std::uint32_t, 16>;
using WideStream = BlockStream<std::uint64_t, 32>;

// The value an ending step stands for, entered into the tree's recent values as
// UpdateRecentValues enters it. Written as selections; GCC branches on the kind here, which
// measured faster than forcing masks (those spill the recent values out of registers).
template <int Tree, class Stream>
inline std::uint32_t TakeValue(Stream& s, std::uint32_t kind, std::uint32_t word) {
    std::uint32_t(&recent)[3] = s.recent[Tree];
    std::uint32_t node = word;
    node = kind == kStepRecent0 ? recent[0] : node;
    node = kind == kStepRecent0 + 1 ? recent[1] : node;
    node = kind == kStepRecent0 + 2 ? recent[2] : node;
    const bool fresh = node != recent[0];
    recent[2] = fresh ? recent[1] : recent[2];
    recent[1] = fresh ? recent[0] : recent[1];
    recent[0] = node;
    return NodeValue(node);
}

// A code deeper than the tables reach: one bit per internal node from `offset` on.
template <int Tree, class Stream>
inline std::uint32_t WalkValue(Stream& s, std::uint32_t offset) {
    std::uint32_t node = LoadNode(s.trees, offset);
    while (NodeLowBits(node) == s.marker) {
        offset += s.Bit() ? OneBranchDistance(node) : kNodeBytes;
        node = LoadNode(s.trees, offset);
    }
    std::uint32_t kind = kStepLeaf;
    for (std::uint32_t k = 3; k-- > 0;) {
        if (s.homes[Tree][k] == offset) kind = kStepRecent0 + k;
    }
    return TakeValue<Tree>(s, kind, node);
}

// One value of a video tree, as a walk through its nodes gives it: one table step for most codes, a
// second for codes longer than the first level, a walk only for the very deep ones.
template <int Tree, class Stream>
inline std::uint32_t DecodeTreeValue(Stream& s) {
    s.Fill();
    std::uint32_t index = static_cast<std::uint32_t>(s.buffer) & s.tables.firstMask[Tree];
    std::uint32_t control = s.tables.first[Tree].control[index];
    std::uint32_t word = s.tables.first[Tree].word[index];
    if (StepKindOf(control) >= kStepSubtable) {
        if (StepKindOf(control) == kStepSubtable) {
            s.Drop(s.tables.firstBits[Tree]);
            // The plain buffer may be down to a few bits here; the wide one holds enough.
            if constexpr (Stream::kRefillBits < kMaxFirstBits + kMaxSubtableBits) s.Fill();
            index = word + s.Peek(StepBitsOf(control));
            control = s.tables.sub.control[index];
            word = s.tables.sub.word[index];
        }
        if (StepKindOf(control) == kStepWalk) {
            s.Drop(StepBitsOf(control));
            return WalkValue<Tree>(s, word);
        }
    }
    s.Drop(StepBitsOf(control));
    return TakeValue<Tree>(s, StepKindOf(control), word);
}

template <class Stream>
inline std::uint32_t ReadTypeWord(Stream& s) {
    return DecodeTreeValue<TYPE_TREE>(s);
}

// A two-colour block: the colour pair (c0 low byte, c1 high byte), then the pattern.
template <class Stream>
inline void ReadMonoBlock(Stream& s, std::uint32_t& colours, std::uint32_t& pattern) {
    colours = DecodeTreeValue<COLOUR_TREE>(s);
    pattern = DecodeTreeValue<PATTERN_TREE>(s);
}

// One row of a full block: `right` holds columns 2 and 3, `left` columns 0 and 1 (each low
// byte first), in the order the stream carries them.
template <class Stream>
inline void ReadFullRow(Stream& s, std::uint32_t& right, std::uint32_t& left) {
    right = DecodeTreeValue<FULL_TREE>(s);
    left = DecodeTreeValue<FULL_TREE>(s);
}
