// SPDX-License-Identifier: MIT
// The two ways the block loop reads a video chunk. Both keep 64 bits buffered and refill
// once per pair of values, without a branch; they differ in how a pair's guessed step is
// chosen (GuessedStep) and in whether its first look-up may come before the refill
// (ReadValuePair), each the way its loop measured faster. Both read the same bits in the
// same order, so they give the same values.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "decoder/trees.h"
#include "decoder/value_tables.h"

static_assert(std::endian::native == std::endian::little, "pixel rows are stored little-endian");

// The block loop keeps its copy of the stream in registers only while every step that
// touches it is inlined; one step left out of line (the compiler gives up on some in a loop
// this large) makes the whole stream live in memory, and every value waits on a reload.
#if defined(__GNUC__)
#define ZAMB_STREAM_STEP inline __attribute__((always_inline))
#else
#define ZAMB_STREAM_STEP inline
#endif

// What a checked read of a chunk learns beside the picture, for tools that must tell a
// damaged chunk from a whole one: the zero bits supplied past the chunk's end (a whole
// chunk never consumes them) and the trees that gave values. Players never pay for it: their
// streams carry none of it, and their block loops are compiled without a trace of it.
struct StreamCheck {
    std::uint32_t paddedBits = 0;
    std::uint32_t treesRead = 0;  // bit t: tree t gave a value
};
struct NoStreamCheck {};

// Never reads at or past `end`: a chunk that stops early goes on as zero bits, which decode
// to garbage blocks but never to a read outside the frame buffer.
//
// The block loop works on its own copy of the stream, so everything here can live in
// registers; the trees' recent values are kept here too, and go back into their nodes
// when the chunk is done.
template <bool Wide, bool Checked = false>
struct BlockStream : std::conditional_t<Checked, StreamCheck, NoStreamCheck> {
    static constexpr bool kWide = Wide;
    static constexpr bool kChecked = Checked;
    // Bits a value may take through its table steps: the widest first level and the
    // deepest subtable. Deeper codes are walked bit by bit, and each bit is checked for.
    static constexpr unsigned kValueBits = kMaxFirstBits + kMaxSubtableBits;
    // Bits buffered after Fill: enough for a value, and for the look-ups ReadValuePair makes
    // past the end of the first value's first-level code.
    static constexpr unsigned kFilledBits = 56;
    static_assert(kFilledBits >= kValueBits && kFilledBits >= 2 * kMaxFirstBits);

    const std::uint8_t* next = nullptr;
    const std::uint8_t* end = nullptr;
    // Bit 0 is the next bit of the stream. Bits at and above `count` are either zero or the
    // stream's own bits read ahead, so a later refill may OR the same bytes in again.
    std::uint64_t buffer = 0;
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

    // After this at least kFilledBits bits are buffered, enough for a pair of values, so
    // that no value waits on a refill branch of its own: with four bytes per refill the
    // plain form had to test before every value whether it needed one, a branch the code
    // lengths of noise make hard to predict. Four-byte steps cannot bring a 64-bit buffer
    // to the 48 bits two values may need, so both forms take whole bytes.
    ZAMB_STREAM_STEP void Fill() {
        if (static_cast<std::size_t>(end - next) >= 8) {
            std::uint64_t ahead;
            std::memcpy(&ahead, next, 8);
            // Takes the whole bytes that fit above the buffered bits; the part of the next
            // byte that also lands is read again, to the same bits, next time.
            buffer |= ahead << count;
            next += (63 - count) >> 3;
            count |= 56;
        } else {
            FillNearEnd();
        }
    }

    // Enough for the next value, after one that may have been walked bit by bit.
    ZAMB_STREAM_STEP void TopUp() {
        if (count < kValueBits) [[unlikely]]
            Fill();
    }

    ZAMB_STREAM_STEP std::uint32_t Peek(unsigned n) const {
        return static_cast<std::uint32_t>(buffer) & ((1u << n) - 1);
    }
    ZAMB_STREAM_STEP void Drop(unsigned n) {
        buffer >>= n;
        count -= n;
    }
    ZAMB_STREAM_STEP std::uint32_t Bit() {
        if (count == 0) Fill();
        const std::uint32_t bit = static_cast<std::uint32_t>(buffer) & 1;
        Drop(1);
        return bit;
    }

  private:
    // Byte by byte, and zero bytes past the end: a chunk that stops early goes on as zero
    // bits.
    ZAMB_STREAM_STEP void FillNearEnd() {
        while (count < kFilledBits) {
            if constexpr (Checked) this->paddedBits += next < end ? 0 : 8;
            const std::uint64_t byte = next < end ? *next++ : 0;
            buffer |= byte << count;
            count += 8;
        }
    }
};

using PlainStream = BlockStream<false>;
using WideStream = BlockStream<true>;
using CheckedPlainStream = BlockStream<false, true>;
using CheckedWideStream = BlockStream<true, true>;

// After a checked read: whether the chunk ran out before its picture was complete. Padding
// sits above the stream's own bits, so it was consumed only if fewer bits are left than it.
template <bool Wide>
bool RanOut(const BlockStream<Wide, true>& s) {
    return s.count < s.paddedBits;
}

// The value an ending step stands for, entered into the tree's recent values as
// UpdateRecentValues enters it. Written as selections; GCC branches on the kind here, which
// measured faster than forcing masks (those spill the recent values out of registers).
template <int Tree, class Stream>
ZAMB_STREAM_STEP std::uint32_t TakeValue(Stream& s, std::uint32_t kind, std::uint32_t word) {
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
ZAMB_STREAM_STEP std::uint32_t WalkValue(Stream& s, std::uint32_t offset) {
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

// One value of a video tree, as a walk through its nodes gives it: one table step for most
// codes, a second for codes longer than the first level, a walk only for the very deep ones.
// The caller has filled the buffer for this value, and may have looked up its first step
// already: `control` is that step, or kStepUnknown.
template <int Tree, class Stream>
ZAMB_STREAM_STEP std::uint32_t DecodeValueFrom(Stream& s, std::uint32_t control) {
    if constexpr (Stream::kChecked) s.treesRead |= 1u << Tree;
    std::uint32_t index = static_cast<std::uint32_t>(s.buffer) & s.tables.firstMask[Tree];
    std::uint32_t word = s.tables.first[Tree].word[index];
    if (StepKindOf(control) >= kStepSubtable) [[unlikely]] {
        if (StepKindOf(control) == kStepUnknown) control = s.tables.first[Tree].control[index];
        if (StepKindOf(control) == kStepSubtable) {
            s.Drop(s.tables.firstBits[Tree]);
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

template <int Tree, class Stream>
ZAMB_STREAM_STEP std::uint32_t DecodeFilledValue(Stream& s) {
    const std::uint32_t index = static_cast<std::uint32_t>(s.buffer) & s.tables.firstMask[Tree];
    return DecodeValueFrom<Tree>(s, s.tables.first[Tree].control[index]);
}

inline constexpr std::uint32_t kUnknownStep = StepControl(kStepUnknown, 0);

// B's first step, guessed from the `Lengths` usual lengths of A's code (`after` holds B's
// step looked up at each) once A's step `first` is known. An ending step (a leaf or a recent
// value: kinds below kStepSubtable, top bit clear) consumes exactly its count. A length
// listed twice looks up the same step twice, so the guesses taken never disagree. Never a
// branch: it would be as hard to predict as the code lengths.
//
// The choice lies on the path every pair waits on. In the wide form it is a chain of
// selections, which compilers make conditional moves: a compare and one move per length,
// about half as long as combining masks, and measured 8 to 14 % faster on noise. The plain
// form keeps the masks: its loop measured no faster with selections.
template <bool Select, int Lengths>
ZAMB_STREAM_STEP std::uint32_t GuessedStep(std::uint32_t first, const std::uint8_t* usual,
                                           const std::uint32_t (&after)[Lengths]) {
    const std::uint32_t ending = first & (0x80 | 31);
    if constexpr (Select) {
        std::uint32_t control = kUnknownStep;
        for (int k = Lengths; k-- > 0;) control = ending == usual[k] ? after[k] : control;
        return control;
    } else {
        std::uint32_t control = 0, taken = 0;
        for (int k = 0; k < Lengths; ++k) {
            const std::uint32_t hit = 0u - static_cast<std::uint32_t>(ending == usual[k]);
            control |= after[k] & hit;
            taken |= hit;
        }
        return control | (kUnknownStep & ~taken);
    }
}

// The pair once A's step `first` is known, B's step looked up at `Lengths` usual ends of A's
// code while A's own step is still being fetched.
template <int TreeA, int TreeB, int Lengths, class Stream>
ZAMB_STREAM_STEP void ReadGuessedPair(Stream& s, std::uint32_t first, std::uint32_t& a,
                                      std::uint32_t& b) {
    // The guesses read only bits the fill has buffered: a first-level code of A and B's
    // first level together are at most 2 * kMaxFirstBits long.
    const std::uint32_t mask = s.tables.firstMask[TreeB];
    const std::uint8_t* controls = s.tables.first[TreeB].control;
    const std::uint8_t* usual = s.tables.usualBits[TreeA];
    std::uint32_t after[Lengths];
    for (int k = 0; k < Lengths; ++k)
        after[k] = controls[static_cast<std::uint32_t>(s.buffer >> usual[k]) & mask];
    a = DecodeValueFrom<TreeA>(s, first);
    const std::uint32_t control = GuessedStep<Stream::kWide>(first, usual, after);
    s.TopUp();
    b = DecodeValueFrom<TreeB>(s, control);
}

// Two values in stream order, the first of tree A. Where A's codes are mostly of a few
// lengths, B's first step is looked up at each possible end of A's code while A's own step
// is still being fetched: the look-ups overlap instead of waiting on each other, which is
// what a wide first level that does not fit the first-level cache needs. A guess is taken
// only when A's step ends its code at that length, so it is the step a look-up after A would
// find. A third guess costs every pair a look-up, so it is made only for a tree whose codes
// miss the two commonest lengths often enough to pay for it.
template <int TreeA, int TreeB, class Stream>
ZAMB_STREAM_STEP void ReadValuePair(Stream& s, std::uint32_t& a, std::uint32_t& b) {
    // The first step is looked up before the refill when the buffer already holds a
    // first-level code, so that the refill's shift and OR stay off the path from the last
    // pair's code length to this look-up. That measured 3 to 15 % faster in the plain form
    // on noise and detailed content, but 15 % slower in the wide one (why is not known; its
    // loop came out of the compiler quite differently), which keeps it after the refill.
    const std::uint32_t mask = s.tables.firstMask[TreeA];
    const std::uint8_t* controls = s.tables.first[TreeA].control;
    std::uint32_t first;
    if (!Stream::kWide && s.count >= kMaxFirstBits) [[likely]] {
        first = controls[static_cast<std::uint32_t>(s.buffer) & mask];
        s.Fill();
    } else {
        s.Fill();
        first = controls[static_cast<std::uint32_t>(s.buffer) & mask];
    }
    if (!s.tables.guessNext[TreeA]) {
        a = DecodeValueFrom<TreeA>(s, first);
        s.TopUp();
        b = DecodeFilledValue<TreeB>(s);
    } else if (!s.tables.guessThird[TreeA]) {
        ReadGuessedPair<TreeA, TreeB, kUsualLengths - 1>(s, first, a, b);
    } else {
        ReadGuessedPair<TreeA, TreeB, kUsualLengths>(s, first, a, b);
    }
}

template <class Stream>
ZAMB_STREAM_STEP std::uint32_t ReadTypeWord(Stream& s) {
    s.Fill();
    return DecodeFilledValue<TYPE_TREE>(s);
}

// A two-colour block: the colour pair (c0 low byte, c1 high byte), then the pattern.
template <class Stream>
ZAMB_STREAM_STEP void ReadMonoBlock(Stream& s, std::uint32_t& colours, std::uint32_t& pattern) {
    ReadValuePair<COLOUR_TREE, PATTERN_TREE>(s, colours, pattern);
}

// One row of a full block: `right` holds columns 2 and 3, `left` columns 0 and 1 (each low
// byte first), in the order the stream carries them.
template <class Stream>
ZAMB_STREAM_STEP void ReadFullRow(Stream& s, std::uint32_t& right, std::uint32_t& left) {
    ReadValuePair<FULL_TREE, FULL_TREE>(s, right, left);
}
