// SPDX-License-Identifier: MIT
// The block loop for processors with the vector path.
#include "decoder/painters.h"

void DecodeBlocksWide(PaintState& st, const std::uint8_t* chunk, const std::uint8_t* chunkEnd,
                      TreeBlock* trees, FamilyKind kind) {
    WideStream stream;
    stream.Start(chunk, chunkEnd, trees, ValueTablesFor(trees));
    DecodeBlocks(st, stream, FamilyFor<WideStream>(kind));
    stream.Finish();
}

ChunkReading DecodeBlocksWideChecked(PaintState& st, const std::uint8_t* chunk,
                                     const std::uint8_t* chunkEnd, TreeBlock* trees,
                                     FamilyKind kind) {
    CheckedWideStream stream;
    stream.Start(chunk, chunkEnd, trees, ValueTablesFor(trees));
    DecodeBlocks(st, stream, FamilyFor<CheckedWideStream>(kind));
    stream.Finish();
    return {RanOut(stream), stream.treesRead};
}
