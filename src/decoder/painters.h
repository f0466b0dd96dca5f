// SPDX-License-Identifier: MIT
// The block painters: each paints one run of blocks of its type straight into the
// destination, moves on through block rows, and keeps the change map up to date.
#pragma once

#include <algorithm>
#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/movie_names.h"
#include "decoder/streams.h"

// How many blocks a type word's run covers, by bits 2-7 of the word.
inline constexpr std::uint16_t RunLengthTable[64] = {
    1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,  17,  18,  19,   20,  21, 22,
    23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38,  39,  40,  41,   42,  43, 44,
    45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 128, 256, 512, 1024, 2048};

// Masks that select, lane by lane, which pixels of a pattern take the second colour.
// `lanes` pattern bits, each spread over a lane of `laneBits` bits.
template <unsigned Entries, unsigned LaneBits>
constexpr std::array<std::uint64_t, Entries> MakePatternMasks() {
    std::array<std::uint64_t, Entries> table{};
    constexpr std::uint64_t lane = (std::uint64_t{1} << LaneBits) - 1;
    for (unsigned b = 0; b < Entries; ++b) {
        for (unsigned k = 0; (1u << k) < Entries; ++k) {
            if (b & (1u << k)) table[b] |= lane << (LaneBits * k);
        }
    }
    return table;
}

// Entry b: 8 bytes, one per pixel of the two rows pattern byte b covers (row one's four
// pixels, then row two's), 0xFF where the pixel takes the second colour of the pair.
inline constexpr auto PatternRowTable = MakePatternMasks<256, 8>();
// The same for one 4-bit row of a pattern and 16-bit pixels: 0xFFFF per second-colour pixel.
inline constexpr auto PatternRowTable16 = MakePatternMasks<16, 16>();

// Per-frame state of the painters, reset before every block loop.
struct PaintState {
    std::uint8_t* position = nullptr;  // top output row of the next block
    std::uint32_t blocksAcross = 0;
    std::uint32_t blocksLeftInRow = 0;
    std::uint32_t blockRowsLeft = 0;
    std::ptrdiff_t rowStep = 0;
    std::ptrdiff_t nextBlockRowStep = 0;
    std::uint32_t totalBlocks = 0;
    std::uint32_t BlocksDone = 0;     // capped at totalBlocks, so marking stops at the map's end
    std::uint32_t GroupsDecided = 0;  // first block whose group is not decided; multiple of 16
    std::uint8_t* changeMap = nullptr;
    const std::uint16_t* colours = nullptr;  // 16-bit pixel of each index, for 16-bit families
};

// --- Change map -------------------------------------------------------------------------

// A painted run marks every group up to the one holding its last block at once.
inline void MarkPaintedRun(PaintState& st, std::uint32_t run) {
    st.BlocksDone = std::min(st.BlocksDone + run, st.totalBlocks);
    if (st.GroupsDecided > st.BlocksDone) return;
    const std::uint32_t endGroup = (st.BlocksDone + 15) / 16;
    const std::uint32_t firstGroup = st.GroupsDecided / 16;
    assert(st.GroupsDecided % 16 == 0 && endGroup <= (st.totalBlocks + 15) / 16);
    std::memset(st.changeMap + firstGroup, 1, endGroup - firstGroup);
    st.GroupsDecided = endGroup * 16;
}

// A skipped run decides only the groups it covers whole: a later painted block in a partly
// skipped group can still mark it.
inline void MarkSkippedRun(PaintState& st, std::uint32_t run) {
    st.BlocksDone = std::min(st.BlocksDone + run, st.totalBlocks);
    if (st.GroupsDecided > st.BlocksDone) return;
    const std::uint32_t endGroup = st.BlocksDone / 16;
    const std::uint32_t firstGroup = st.GroupsDecided / 16;
    assert(st.GroupsDecided % 16 == 0 && endGroup <= (st.totalBlocks + 15) / 16);
    std::memset(st.changeMap + firstGroup, 0, endGroup - firstGroup);
    st.GroupsDecided = endGroup * 16;
}

// Every group from the last decided one on holds only skipped blocks.
inline void EndChangeMap(PaintState& st) {
    st.changeMap[st.GroupsDecided / 16] = 0;
}

// --- Moving through the picture ---------------------------------------------------------

// Steps over `blocks` blocks of the current block row; false when that finished the picture.
// The position never steps past the last block row, so it stays inside the destination.
template <int Bpp>
inline bool AdvanceBlocks(PaintState& st, std::uint32_t blocks) {
    assert(st.blockRowsLeft != 0 && blocks <= st.blocksLeftInRow);
    st.position += std::ptrdiff_t{4 * Bpp} * blocks;
    st.blocksLeftInRow -= blocks;
    if (st.blocksLeftInRow != 0) return true;
    if (--st.blockRowsLeft == 0) return false;
    st.position += st.nextBlockRowStep;
    st.blocksLeftInRow = st.blocksAcross;
    return true;
}

// --- Writing rows -----------------------------------------------------------------------

// Row r of a block, 4 pixels: 4 bytes (8-bit) or 8 bytes (16-bit) stored as one word.
template <bool Doubled, class Row>
inline void StoreBlockRow(const PaintState& st, int r, Row pixels) {
    if constexpr (Doubled) {
        std::uint8_t* out = st.position + st.rowStep * (2 * r);
        std::memcpy(out, &pixels, sizeof pixels);
        std::memcpy(out + st.rowStep, &pixels, sizeof pixels);
    } else {
        std::memcpy(st.position + st.rowStep * r, &pixels, sizeof pixels);
    }
}

inline std::uint64_t Spread8(std::uint32_t index) {
    return index * 0x0101010101010101ull;
}
inline std::uint64_t Spread16(std::uint32_t pixel) {
    return pixel * 0x0001000100010001ull;
}

inline std::uint64_t Pixels16(const std::uint16_t* colours, std::uint32_t p0, std::uint32_t p1,
                              std::uint32_t p2, std::uint32_t p3) {
    return std::uint64_t{colours[p0]} | std::uint64_t{colours[p1]} << 16 |
           std::uint64_t{colours[p2]} << 32 | std::uint64_t{colours[p3]} << 48;
}

template <int Bpp, bool Doubled>
inline void WriteMonoBlock(const PaintState& st, std::uint32_t colourPair, std::uint32_t pattern) {
    const std::uint32_t c0 = colourPair & 0xFF, c1 = (colourPair >> 8) & 0xFF;
    if constexpr (Bpp == 1) {
        const std::uint64_t base = Spread8(c0), flip = Spread8(c0 ^ c1);
        const std::uint64_t top = base ^ (flip & PatternRowTable[pattern & 0xFF]);
        const std::uint64_t bottom = base ^ (flip & PatternRowTable[(pattern >> 8) & 0xFF]);
        StoreBlockRow<Doubled>(st, 0, static_cast<std::uint32_t>(top));
        StoreBlockRow<Doubled>(st, 1, static_cast<std::uint32_t>(top >> 32));
        StoreBlockRow<Doubled>(st, 2, static_cast<std::uint32_t>(bottom));
        StoreBlockRow<Doubled>(st, 3, static_cast<std::uint32_t>(bottom >> 32));
    } else {
        const std::uint64_t base = Spread16(st.colours[c0]);
        const std::uint64_t flip = base ^ Spread16(st.colours[c1]);
        for (int r = 0; r < 4; ++r) {
            const std::uint32_t nibble = (pattern >> (4 * r)) & 0xF;
            StoreBlockRow<Doubled>(st, r, base ^ (flip & PatternRowTable16[nibble]));
        }
    }
}

template <int Bpp, bool Doubled>
inline void WriteFullRow(const PaintState& st, int r, std::uint32_t right, std::uint32_t left) {
    if constexpr (Bpp == 1) {
        StoreBlockRow<Doubled>(st, r, (left & 0xFFFF) | (right & 0xFFFF) << 16);
    } else {
        StoreBlockRow<Doubled>(st, r,
                               Pixels16(st.colours, left & 0xFF, (left >> 8) & 0xFF, right & 0xFF,
                                        (right >> 8) & 0xFF));
    }
}

// `blocks` solid blocks side by side: one fill per output row for all of them.
template <int Bpp, bool Doubled>
inline void WriteSolidBlocks(const PaintState& st, std::uint32_t index, std::uint32_t blocks) {
    constexpr int kOutputRows = Doubled ? 8 : 4;
    const std::size_t pixels = std::size_t{4} * blocks;
    for (int r = 0; r < kOutputRows; ++r) {
        std::uint8_t* out = st.position + st.rowStep * r;
        if constexpr (Bpp == 1) {
            std::memset(out, static_cast<int>(index), pixels);
        } else {
            const std::uint16_t pixel = st.colours[index];
            for (std::size_t i = 0; i < pixels; ++i) std::memcpy(out + 2 * i, &pixel, 2);
        }
    }
}

// --- Painters ---------------------------------------------------------------------------
// Each returns true when the picture is finished (the rest of the run and chunk ignored).

template <class Stream, int Bpp, bool Doubled>
inline bool PaintMono(PaintState& st, Stream& s, std::uint32_t, std::uint32_t run) {
    MarkPaintedRun(st, run);
    for (;;) {
        std::uint32_t colours, pattern;
        ReadMonoBlock(s, colours, pattern);
        WriteMonoBlock<Bpp, Doubled>(st, colours, pattern);
        if (!AdvanceBlocks<Bpp>(st, 1)) return true;
        if (--run == 0) return false;
    }
}

template <class Stream, int Bpp, bool Doubled>
inline bool PaintFull(PaintState& st, Stream& s, std::uint32_t, std::uint32_t run) {
    MarkPaintedRun(st, run);
    for (;;) {
        for (int r = 0; r < 4; ++r) {
            std::uint32_t right, left;
            ReadFullRow(s, right, left);
            WriteFullRow<Bpp, Doubled>(st, r, right, left);
        }
        if (!AdvanceBlocks<Bpp>(st, 1)) return true;
        if (--run == 0) return false;
    }
}

template <class Stream, int Bpp>
inline bool PaintSkip(PaintState& st, Stream&, std::uint32_t, std::uint32_t run) {
    MarkSkippedRun(st, run);
    for (;;) {
        const std::uint32_t blocks = std::min(run, st.blocksLeftInRow);
        run -= blocks;
        if (!AdvanceBlocks<Bpp>(st, blocks)) return true;
        if (run == 0) return false;
    }
}

template <class Stream, int Bpp, bool Doubled>
inline bool PaintSolid(PaintState& st, Stream&, std::uint32_t typeWord, std::uint32_t run) {
    MarkPaintedRun(st, run);
    const std::uint32_t index = typeWord >> 8;
    for (;;) {
        const std::uint32_t blocks = std::min(run, st.blocksLeftInRow);
        WriteSolidBlocks<Bpp, Doubled>(st, index, blocks);
        run -= blocks;
        if (!AdvanceBlocks<Bpp>(st, blocks)) return true;
        if (run == 0) return false;
    }
}

// --- Families ---------------------------------------------------------------------------

// The block loop of one family: type words and their runs until a painter finishes the
// picture. It works on copies of the painter state and the stream: every pixel store goes
// through a byte pointer, which the compiler must assume could change anything reached
// through a reference, so with the originals it would reload the bit buffer, the recent
// values and the write position after every row it writes.
template <class Stream, int Bpp, bool Doubled>
void DecodeFamilyBlocks(PaintState& state, Stream& stream) {
    PaintState st = state;
    Stream s = stream;
    if (st.totalBlocks != 0) {
        for (bool done = false; !done;) {
            const std::uint32_t word = ReadTypeWord(s);
            const std::uint32_t run = RunLengthTable[(word >> 2) & 63];
            switch (word & 3) {
                case BLOCK_MONO:
                    done = PaintMono<Stream, Bpp, Doubled>(st, s, word, run);
                    break;
                case BLOCK_FULL:
                    done = PaintFull<Stream, Bpp, Doubled>(st, s, word, run);
                    break;
                case BLOCK_SKIP:
                    done = PaintSkip<Stream, Bpp>(st, s, word, run);
                    break;
                default:
                    done = PaintSolid<Stream, Bpp, Doubled>(st, s, word, run);
                    break;
            }
        }
    }
    EndChangeMap(st);
    state = st;
    stream = s;
}

// The painters suited to one kind of destination, behind their block loop.
template <class Stream>
struct PainterFamily {
    void (*decode)(PaintState&, Stream&);
};

template <class Stream, int Bpp, bool Doubled>
inline constexpr PainterFamily<Stream> kPainterFamily = {&DecodeFamilyBlocks<Stream, Bpp, Doubled>};

template <class Stream>
void DecodeBlocks(PaintState& st, Stream& s, const PainterFamily<Stream>& family) {
    family.decode(st, s);
}

// Which painters suit a destination.
enum class FamilyKind { Eight, EightDoubled, Sixteen, SixteenDoubled };

template <class Stream>
inline const PainterFamily<Stream>& FamilyFor(FamilyKind kind) {
    switch (kind) {
        case FamilyKind::Eight:
            return kPainterFamily<Stream, 1, false>;
        case FamilyKind::EightDoubled:
            return kPainterFamily<Stream, 1, true>;
        case FamilyKind::Sixteen:
            return kPainterFamily<Stream, 2, false>;
        default:
            return kPainterFamily<Stream, 2, true>;
    }
}

// The block loop in its two stream forms (one translation unit each).
void DecodeBlocksPlain(PaintState& st, const std::uint8_t* chunk, const std::uint8_t* chunkEnd,
                       TreeBlock* trees, FamilyKind kind);
void DecodeBlocksWide(PaintState& st, const std::uint8_t* chunk, const std::uint8_t* chunkEnd,
                      TreeBlock* trees, FamilyKind kind);

// What a checked decode of a chunk found (see StreamCheck).
struct ChunkReading {
    bool ranOut = false;          // the picture needed bits past the chunk's end
    std::uint32_t treesRead = 0;  // bit t: tree t gave a value
};
// The same loops, painting the same picture, reading the chunk checked.
ChunkReading DecodeBlocksPlainChecked(PaintState& st, const std::uint8_t* chunk,
                                      const std::uint8_t* chunkEnd, TreeBlock* trees,
                                      FamilyKind kind);
ChunkReading DecodeBlocksWideChecked(PaintState& st, const std::uint8_t* chunk,
                                     const std::uint8_t* chunkEnd, TreeBlock* trees,
                                     FamilyKind kind);

// One chunk through the block loop, `stream` reading it for `family`'s painters: each form
// of the loop (plain, wide, the page's) is a choice of stream and painters, and no more.
template <class Stream>
void PaintChunk(Stream& stream, PaintState& st, const std::uint8_t* chunk,
                const std::uint8_t* chunkEnd, TreeBlock* trees,
                const PainterFamily<Stream>& family) {
    stream.Start(chunk, chunkEnd, trees, ValueTablesFor(trees));
    DecodeBlocks(st, stream, family);
    stream.Finish();
}

template <class CheckedStream>
ChunkReading PaintChunkChecked(PaintState& st, const std::uint8_t* chunk,
                               const std::uint8_t* chunkEnd, TreeBlock* trees,
                               const PainterFamily<CheckedStream>& family) {
    CheckedStream stream;
    PaintChunk(stream, st, chunk, chunkEnd, trees, family);
    return {RanOut(stream), stream.treesRead};
}
