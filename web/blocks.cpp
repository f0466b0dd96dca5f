// SPDX-License-Identifier: MIT
// The page's block loops: the plain loops with the 8-bit painters alone. The glue opens every
// movie into an 8-bit picture (it makes the RGBA itself) and WebAssembly never takes the
// vector path, so web/build links this in place of the library's two block loop objects,
// whose 16-bit painters and vector loops the page would carry without ever running them.
#include "decoder/painters.h"

namespace {

// Only an 8-bit destination is ever made here; a 16-bit one would be the page's own fault,
// stopped (the page reports a stopped core) rather than painted wrong.
template <class Stream>
const PainterFamily<Stream>& EightBitFamily(FamilyKind kind) {
    if (kind == FamilyKind::Eight) return kPainterFamily<Stream, 1, false>;
    if (kind != FamilyKind::EightDoubled) __builtin_trap();
    return kPainterFamily<Stream, 1, true>;
}

}  // namespace

void DecodeBlocksPlain(PaintState& st, const std::uint8_t* chunk, const std::uint8_t* chunkEnd,
                       TreeBlock* trees, FamilyKind kind) {
    PlainStream stream;
    PaintChunk(stream, st, chunk, chunkEnd, trees, EightBitFamily<PlainStream>(kind));
}

ChunkReading DecodeBlocksPlainChecked(PaintState& st, const std::uint8_t* chunk,
                                      const std::uint8_t* chunkEnd, TreeBlock* trees,
                                      FamilyKind kind) {
    return PaintChunkChecked(st, chunk, chunkEnd, trees, EightBitFamily<CheckedPlainStream>(kind));
}

// The vector loops' names, taken by the plain loops (the same pictures), should anything
// ask for them: they are chosen only on an x86 processor that reports MMX.
void DecodeBlocksWide(PaintState& st, const std::uint8_t* chunk, const std::uint8_t* chunkEnd,
                      TreeBlock* trees, FamilyKind kind) {
    DecodeBlocksPlain(st, chunk, chunkEnd, trees, kind);
}

ChunkReading DecodeBlocksWideChecked(PaintState& st, const std::uint8_t* chunk,
                                     const std::uint8_t* chunkEnd, TreeBlock* trees,
                                     FamilyKind kind) {
    return DecodeBlocksPlainChecked(st, chunk, chunkEnd, trees, kind);
}
