// SPDX-License-Identifier: MIT
// The block loop for processors without the vector path.
#include "decoder/painters.h"

void DecodeBlocksPlain(PaintState& st, const std::uint8_t* chunk, const std::uint8_t* chunkEnd,
                       TreeBlock* trees, FamilyKind kind) {
    PlainStream stream;
    stream.Start(chunk, chunkEnd, trees, ValueTablesFor(trees));
    DecodeBlocks(st, stream, FamilyFor<PlainStream>(kind));
    stream.Finish();
}

ChunkReading DecodeBlocksPlainChecked(PaintState& st, const std::uint8_t* chunk,
                                      const std::uint8_t* chunkEnd, TreeBlock* trees,
                                      FamilyKind kind) {
    CheckedPlainStream stream;
    stream.Start(chunk, chunkEnd, trees, ValueTablesFor(trees));
    DecodeBlocks(st, stream, FamilyFor<CheckedPlainStream>(kind));
    stream.Finish();
    return {RanOut(stream), stream.treesRead};
}
