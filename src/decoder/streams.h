// SPDX-License-Identifier: MIT
// The two ways the block loop reads a video chunk: 32 bits buffered and refilled 16 at a
// time, or 64 bits buffered and refilled 32 at a time. Both read the same bits in the same
// order, so they give the same values; the wide one refills half as often.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "decoder/trees.h"

static_assert(std::endian::native == std::endian::little, "pixel rows are stored little-endian");

// Never reads at or past `end`: a chunk that stops early goes on as zero bits, which decode
// to garbage blocks but never to a read outside the frame buffer.
template <class Word, unsigned RefillBits>
struct BlockStream {
    using BufferWord = Word;
    static constexpr unsigned kRefillBytes = RefillBits / 8;

    const std::uint8_t* next = nullptr;
    const std::uint8_t* end = nullptr;
    Word buffer = 0;  // bit 0 is the next bit of the stream
    unsigned count = 0;
    TreeBlock* trees = nullptr;

    void Start(const std::uint8_t* start, const std::uint8_t* stop, TreeBlock* block) {
        next = start;
        end = stop < start ? start : stop;
        buffer = 0;
        count = 0;
        trees = block;
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
        std::uint64_t value = 0;
        if (static_cast<std::size_t>(end - next) >= kRefillBytes) {
            for (unsigned i = 0; i < kRefillBytes; ++i) value |= std::uint64_t{next[i]} << (8 * i);
            next += kRefillBytes;
            return value;
        }
        for (unsigned i = 0; next < end; ++i) value |= std::uint64_t{*next++} << (8 * i);
        return value;
    }
};

using PlainStream = BlockStream<std::uint32_t, 16>;
using WideStream = BlockStream<std::uint64_t, 32>;

// One value of a video tree, as DecodeValue gives it, read through either stream form.
template <class Stream>
inline std::uint32_t DecodeTreeValue(Stream& s, int tree, const std::uint32_t* lookup,
                                     unsigned lookupBits) {
    TreeBlock* trees = s.trees;
    s.Fill();
    const std::uint32_t entry = lookup[s.Peek(lookupBits)];
    s.Drop(entry & kLookupBitsMask);
    std::uint32_t offset = entry >> kLookupPositionShift;
    std::uint32_t node = LoadNode(trees, offset);
    const std::uint32_t marker = trees->EscapeMarker;
    while (NodeLowBits(node) == marker) {
        offset += s.Bit() ? OneBranchDistance(node) : kNodeBytes;
        node = LoadNode(trees, offset);
    }
    UpdateRecentValues(trees, tree, node);
    return NodeValue(node);
}

template <class Stream>
inline std::uint32_t ReadTypeWord(Stream& s) {
    return DecodeTreeValue(s, TYPE_TREE, s.trees->TypeLookup, kLookupBits[TYPE_TREE]);
}

// A two-colour block: the colour pair (c0 low byte, c1 high byte), then the pattern.
template <class Stream>
inline void ReadMonoBlock(Stream& s, std::uint32_t& colours, std::uint32_t& pattern) {
    colours = DecodeTreeValue(s, COLOUR_TREE, s.trees->ColourLookup, kLookupBits[COLOUR_TREE]);
    pattern = DecodeTreeValue(s, PATTERN_TREE, s.trees->PatternLookup, kLookupBits[PATTERN_TREE]);
}

// One row of a full block: `right` holds columns 2 and 3, `left` columns 0 and 1 (each low
// byte first), in the order the stream carries them.
template <class Stream>
inline void ReadFullRow(Stream& s, std::uint32_t& right, std::uint32_t& left) {
    right = DecodeTreeValue(s, FULL_TREE, s.trees->FullLookup, kLookupBits[FULL_TREE]);
    left = DecodeTreeValue(s, FULL_TREE, s.trees->FullLookup, kLookupBits[FULL_TREE]);
}
