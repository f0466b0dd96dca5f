// SPDX-License-Identifier: MIT
// Delta-coded sound: a raw first sample frame, then per-channel deltas from byte trees.
#include "decoder/audio_decode.h"

#include "decoder/trees.h"

namespace {

struct ChunkLayout {
    bool Stereo;
    bool Wide;  // 16-bit samples
    unsigned Channels() const { return Stereo ? 2 : 1; }
    unsigned FrameBytes() const { return Channels() * (Wide ? 2 : 1); }
    unsigned Trees() const { return Channels() * (Wide ? 2 : 1); }
};

// Writes bytes into the ring, wrapping, and stops at the declared size.
struct RingWriter {
    std::uint8_t* Start;
    std::uint8_t* End;
    std::uint8_t* At;
    std::uint32_t Left;
    std::uint32_t Written = 0;

    void Put(const std::uint8_t* bytes, unsigned count) {
        for (unsigned i = 0; i < count && Left > 0; ++i, --Left, ++Written) {
            *At++ = bytes[i];
            if (At == End) At = Start;
        }
    }
};

std::uint32_t* TreeNodes(std::uint8_t* scratch, unsigned tree) {
    return reinterpret_cast<std::uint32_t*>(scratch + tree * kByteTreeBytes);
}

bool ReadTrees(BitReader& bits, const ChunkLayout& layout, std::uint8_t* scratch) {
    for (unsigned tree = 0; tree < layout.Trees(); ++tree) {
        ReadBit(bits);  // presence bit: the tree is always there
        if (ReadByteTree(bits, TreeNodes(scratch, tree)) == 0) return false;
    }
    return !bits.overrun;
}

// Stores one sample frame, left then right, 16-bit values little-endian.
void StoreFrame(RingWriter& out, const ChunkLayout& layout, const std::uint32_t sample[2]) {
    std::uint8_t bytes[4];
    unsigned n = 0;
    for (unsigned c = 0; c < layout.Channels(); ++c) {
        bytes[n++] = static_cast<std::uint8_t>(sample[c]);
        if (layout.Wide) bytes[n++] = static_cast<std::uint8_t>(sample[c] >> 8);
    }
    out.Put(bytes, n);
}

// The first frame is raw: the right channel before the left, 16-bit values high byte first.
void ReadFirstFrame(BitReader& bits, const ChunkLayout& layout, std::uint32_t sample[2]) {
    for (int c = static_cast<int>(layout.Channels()) - 1; c >= 0; --c) {
        std::uint32_t value = ReadBits(bits, 8);
        if (layout.Wide) value = value << 8 | ReadBits(bits, 8);
        sample[c] = value;
    }
}

// 8-bit channels wrap on their own; a 16-bit channel's low delta byte carries into its high.
void AddDeltas(BitReader& bits, const ChunkLayout& layout, std::uint8_t* scratch,
               std::uint32_t sample[2]) {
    unsigned tree = 0;
    for (unsigned c = 0; c < layout.Channels(); ++c) {
        std::uint32_t delta = DecodeByte(TreeNodes(scratch, tree++), bits);
        if (layout.Wide) delta += DecodeByte(TreeNodes(scratch, tree++), bits) << 8;
        sample[c] = (sample[c] + delta) & (layout.Wide ? 0xFFFF : 0xFF);
    }
}

}  // namespace

std::uint32_t DecodeAudio(BitReader& bits, std::uint32_t decodedBytes, std::uint8_t* scratch,
                          std::uint8_t* ringStart, std::uint8_t* ringEnd, std::uint8_t* writePos) {
    if (ReadBit(bits) == 0 || bits.overrun) return 0;
    ChunkLayout layout{};
    layout.Stereo = ReadBit(bits) != 0;
    layout.Wide = ReadBit(bits) != 0;
    if (!ReadTrees(bits, layout, scratch) || decodedBytes == 0) return 0;
    RingWriter out{ringStart, ringEnd, writePos, decodedBytes};
    std::uint32_t sample[2] = {0, 0};
    ReadFirstFrame(bits, layout, sample);
    // A frame decoded from bits past the stream's end is not sound: stop before it.
    while (!bits.overrun) {
        StoreFrame(out, layout, sample);
        if (out.Left == 0) break;
        AddDeltas(bits, layout, scratch, sample);
    }
    return out.Written;
}
