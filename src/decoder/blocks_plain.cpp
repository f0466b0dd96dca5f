// SPDX-License-Identifier: MIT
// The block loop for processors without the vector path.
#include "decoder/painters.h"

void DecodeBlocksPlain(PaintState& st, const std::uint8_t* chunk, const std::uint8_t* chunkEnd,
                       TreeBlock* trees, FamilyKind kind) {
    PlainStream stream;
    PaintChunk(stream, st, chunk, chunkEnd, trees, FamilyFor<PlainStream>(kind));
}

ChunkReading DecodeBlocksPlainChecked(PaintState& st, const std::uint8_t* chunk,
                                      const std::uint8_t* chunkEnd, TreeBlock* trees,
                                      FamilyKind kind) {
    return PaintChunkChecked(st, chunk, chunkEnd, trees, FamilyFor<CheckedPlainStream>(kind));
}
