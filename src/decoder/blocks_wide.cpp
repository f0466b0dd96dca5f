// SPDX-License-Identifier: MIT
// The block loop for processors with the vector path.
#include "decoder/painters.h"

void DecodeBlocksWide(PaintState& st, const std::uint8_t* chunk, const std::uint8_t* chunkEnd,
                      TreeBlock* trees, FamilyKind kind) {
    WideStream stream;
    PaintChunk(stream, st, chunk, chunkEnd, trees, FamilyFor<WideStream>(kind));
}

ChunkReading DecodeBlocksWideChecked(PaintState& st, const std::uint8_t* chunk,
                                     const std::uint8_t* chunkEnd, TreeBlock* trees,
                                     FamilyKind kind) {
    return PaintChunkChecked(st, chunk, chunkEnd, trees, FamilyFor<CheckedWideStream>(kind));
}
