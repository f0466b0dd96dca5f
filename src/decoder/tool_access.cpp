// SPDX-License-Identifier: MIT
// The decoder services zmbtool uses beyond the player's interface.
#include "decoder/tool_access.h"

#include <cstring>

#include "decoder/audio_decode.h"
#include "decoder/bitstream.h"
#include "decoder/destination.h"
#include "decoder/painters.h"
#include "decoder/trees.h"
#include "decoder/video.h"

std::uint32_t ToolTrackSoundBytes(const Movie* movie, int n) {
    return MeasureChunk(movie, n).Bytes;
}

std::uint32_t ToolTrackChunkLimit(const Movie* movie, int n) {
    const std::uint32_t format = movie->TrackFormat[n];
    const std::uint32_t bytesPerSecond = (format & TRACK_RATE_MASK) *
                                         (format & TRACK_16BIT ? 2 : 1) *
                                         (format & TRACK_STEREO ? 2 : 1);
    const std::uint32_t ring = TrackRingBytes(bytesPerSecond, movie->FramePeriod);
    return movie->TrackMaxBytes[n] < ring ? movie->TrackMaxBytes[n] : ring;
}

std::uint32_t ToolTrackSound(const Movie* movie, int n, std::uint8_t* out, std::uint32_t bytes) {
    const ChunkSound sound = MeasureChunk(movie, n);
    if (!sound.Data || bytes == 0) return 0;
    if (!sound.Compressed) {
        const std::uint32_t count = bytes < sound.DataBytes ? bytes : sound.DataBytes;
        std::memcpy(out, sound.Data, count);
        return count;
    }
    std::uint8_t scratch[kAudioScratchBytes];
    BitReader bits;
    StartBits(bits, sound.Data, sound.Data + sound.DataBytes);
    return DecodeAudio(bits, bytes, scratch, out, out + bytes, out);
}

void ToolRestartRectScan(Movie* movie, std::int32_t state) {
    if (movie->Dest == nullptr) return;
    movie->Dest->ScanDone = movie->Dest->ScanContinue = movie->Dest->ScanStarted = 0;
    movie->RectState = state;
}

std::int32_t ToolDoFrame(Movie* movie, ToolPictureReading* reading) {
    // A reading that stays at its mark was never made: no picture was decoded.
    ChunkReading chunk;
    chunk.treesRead = ~0u;
    const std::int32_t late = DoFrameChecked(movie, &chunk);
    *reading = ToolPictureReading{};
    if (chunk.treesRead == ~0u) return late;
    *reading = {true, chunk.ranOut, chunk.treesRead};
    return late;
}

std::uint32_t ToolAbsentTrees(const Movie* movie) {
    if (movie->Trees == nullptr) return 0;
    // An absent tree keeps all three recent values in its one node; a stored tree gives each
    // its own node.
    std::uint32_t absent = 0;
    for (int t = 0; t < kTreeCount; ++t) {
        const std::uint32_t* at = movie->Trees->Recent[t].Location;
        if (at[0] == at[1] && at[1] == at[2]) absent |= 1u << t;
    }
    return absent;
}

namespace {

// A tree's nodes, read with the builder's syntax; 0 for an absent tree.
bool CountTreeNodes(BitReader& bits, std::uint32_t* nodes) {
    *nodes = 0;
    if (ReadBit(bits) == 0) return !bits.overrun;
    std::uint32_t low[kByteTreeBytes / 4], high[kByteTreeBytes / 4];
    low[0] = high[0] = kByteLeaf;
    if (ReadBit(bits) != 0 && ReadByteTree(bits, low) == 0) return false;
    if (ReadBit(bits) != 0 && ReadByteTree(bits, high) == 0) return false;
    for (int escape = 0; escape < 3; ++escape) ReadBits(bits, 16);
    // A pre-order tree ends with the leaf that closes every open internal node.
    std::uint64_t open = 0, count = 0;
    for (;;) {
        ++count;
        if (ReadBit(bits) != 0) {
            ++open;
        } else {
            DecodeByte(low, bits);
            DecodeByte(high, bits);
            if (open == 0) break;
            --open;
        }
        if (bits.overrun || count > kTreeBlockLimit) return false;
    }
    ReadBit(bits);  // the closing bit
    *nodes = static_cast<std::uint32_t>(count);
    return !bits.overrun;
}

}  // namespace

bool ToolTreeSizesNeeded(const std::uint8_t* treeData, std::uint32_t size,
                         std::uint32_t needed[4]) {
    BitReader bits;
    StartBits(bits, treeData, treeData + size);
    for (int t = 0; t < kTreeCount; ++t) {
        std::uint32_t nodes = 0;
        if (!CountTreeNodes(bits, &nodes)) return false;
        needed[t] = nodes == 0 ? 0 : kNodeBytes * (nodes + 3);
    }
    return true;
}
