// SPDX-License-Identifier: MIT
// Delta-coded sound: a raw first sample frame, then per-channel deltas from byte trees.
#include "decoder/audio_decode.h"

#include <algorithm>
#include <cstring>

#include "decoder/byte_tables.h"
#include "decoder/movie.h"
#include "decoder/trees.h"

namespace {

// A chunk's sample format. The decoding loop is built once per format, so that the byte
// counts and the trees of a frame are constants in it.
template <bool Stereo, bool Wide>
struct Layout {
    static constexpr unsigned kChannels = Stereo ? 2 : 1;
    static constexpr unsigned kSampleBytes = Wide ? 2 : 1;
    static constexpr unsigned kFrameBytes = kChannels * kSampleBytes;
    static constexpr unsigned kTrees = kFrameBytes;  // one per byte of a frame
    static constexpr std::uint32_t kSampleMask = Wide ? 0xFFFF : 0xFF;
};

// Writes bytes into the ring, wrapping, and stops at the declared size.
struct RingWriter {
    std::uint8_t* Start;
    std::uint8_t* End;
    std::uint8_t* At;
    std::uint32_t Left;
    std::uint32_t Written = 0;

    void Put(const std::uint8_t* bytes, std::uint32_t count) {
        count = std::min(count, Left);
        Left -= count;
        Written += count;
        while (count > 0) {
            const auto piece = std::min<std::size_t>(count, static_cast<std::size_t>(End - At));
            std::memcpy(At, bytes, piece);
            At += piece;
            if (At == End) At = Start;
            bytes += piece;
            count -= static_cast<std::uint32_t>(piece);
        }
    }
};

std::uint32_t* TreeNodes(std::uint8_t* scratch, unsigned tree) {
    return reinterpret_cast<std::uint32_t*>(scratch + tree * kByteTreeBytes);
}

// A chunk's trees, each with its look-up table.
struct ChunkTrees {
    std::uint8_t* Scratch;
    ByteTable Tables[4];

    std::uint32_t Decode(BitReader& bits, unsigned tree) const {
        return DecodeByteByTable(TreeNodes(Scratch, tree), Tables[tree], bits);
    }
};

bool ReadTrees(BitReader& bits, unsigned count, ChunkTrees& trees) {
    for (unsigned tree = 0; tree < count; ++tree) {
        ReadBit(bits);  // presence bit: the tree is always there
        if (ReadByteTree(bits, TreeNodes(trees.Scratch, tree)) == 0) return false;
    }
    if (bits.overrun) return false;
    for (unsigned tree = 0; tree < count; ++tree)
        BuildByteTable(TreeNodes(trees.Scratch, tree), trees.Tables[tree]);
    return true;
}

// The first frame is raw: the right channel before the left, 16-bit values high byte first.
template <typename L>
void ReadFirstFrame(BitReader& bits, std::uint32_t sample[2]) {
    for (int c = static_cast<int>(L::kChannels) - 1; c >= 0; --c) {
        std::uint32_t value = ReadBits(bits, 8);
        if constexpr (L::kSampleBytes == 2) value = value << 8 | ReadBits(bits, 8);
        sample[c] = value;
    }
}

// One sample frame, left then right, 16-bit values little-endian.
template <typename L>
void StageFrame(std::uint8_t* at, const std::uint32_t sample[2]) {
    for (unsigned c = 0; c < L::kChannels; ++c) {
        *at++ = static_cast<std::uint8_t>(sample[c]);
        if constexpr (L::kSampleBytes == 2) *at++ = static_cast<std::uint8_t>(sample[c] >> 8);
    }
}

// 8-bit channels wrap on their own; a 16-bit channel's low delta byte carries into its high.
template <typename L>
void AddDeltas(BitReader& bits, const ChunkTrees& trees, std::uint32_t sample[2]) {
    for (unsigned c = 0; c < L::kChannels; ++c) {
        const unsigned tree = c * L::kSampleBytes;
        std::uint32_t delta = trees.Decode(bits, tree);
        if constexpr (L::kSampleBytes == 2) delta += trees.Decode(bits, tree + 1) << 8;
        sample[c] = (sample[c] + delta) & L::kSampleMask;
    }
}

// Frames are gathered in a small buffer and go into the ring a buffer at a time, so that
// the wrap and the declared size are checked per buffer instead of per byte.
// The reader works on a copy of its own, which the compiler can keep in registers: through
// the caller's reference, every byte stored would have to be assumed to change it.
template <typename L>
std::uint32_t DecodeSamples(BitReader& callerBits, const ChunkTrees& trees, RingWriter& out) {
    BitReader bits = callerBits;
    constexpr std::uint32_t kStagedBytes = 256 * L::kFrameBytes;
    std::uint8_t staged[kStagedBytes];
    std::uint32_t sample[2] = {0, 0};
    ReadFirstFrame<L>(bits, sample);
    std::uint32_t n = 0;
    // A frame decoded from bits past the stream's end is not sound: stop before it.
    while (!bits.overrun) {
        StageFrame<L>(staged + n, sample);
        n += L::kFrameBytes;
        if (n >= out.Left) break;  // the rest of the declared size is staged
        if (n == kStagedBytes) {
            out.Put(staged, n);
            n = 0;
        }
        AddDeltas<L>(bits, trees, sample);
    }
    out.Put(staged, n);
    callerBits = bits;
    return out.Written;
}

template <bool Stereo, bool Wide>
std::uint32_t DecodeChunk(BitReader& bits, std::uint8_t* scratch, RingWriter& out) {
    using L = Layout<Stereo, Wide>;
    ChunkTrees trees;
    trees.Scratch = scratch;
    if (!ReadTrees(bits, L::kTrees, trees) || out.Left == 0) return 0;
    return DecodeSamples<L>(bits, trees, out);
}

}  // namespace

std::uint32_t DecodeAudio(BitReader& bits, std::uint32_t decodedBytes, std::uint8_t* scratch,
                          std::uint8_t* ringStart, std::uint8_t* ringEnd, std::uint8_t* writePos) {
    if (ReadBit(bits) == 0 || bits.overrun) return 0;
    const bool stereo = ReadBit(bits) != 0;
    const bool wide = ReadBit(bits) != 0;
    RingWriter out{ringStart, ringEnd, writePos, decodedBytes};
    if (stereo) {
        return wide ? DecodeChunk<true, true>(bits, scratch, out)
                    : DecodeChunk<true, false>(bits, scratch, out);
    }
    return wide ? DecodeChunk<false, true>(bits, scratch, out)
                : DecodeChunk<false, false>(bits, scratch, out);
}

namespace {

std::uint8_t* Advance(const PcmRing& ring, std::uint8_t* at, std::uint32_t bytes) {
    const auto toEnd = static_cast<std::uint32_t>(ring.end - at);
    return bytes < toEnd ? at + bytes : ring.start + (bytes - toEnd);
}

void CopyIntoRing(const PcmRing& ring, const std::uint8_t* from, std::uint32_t bytes) {
    // An empty raw chunk has no data at all, and copying from null is undefined even for
    // zero bytes.
    if (bytes == 0) return;
    const auto toEnd = static_cast<std::uint32_t>(ring.end - ring.at);
    const std::uint32_t first = std::min(bytes, toEnd);
    std::memcpy(ring.at, from, first);
    std::memcpy(ring.start, from + first, bytes - first);
}

void FillRing(const PcmRing& ring, std::uint8_t* at, std::uint8_t value, std::uint32_t bytes) {
    const auto toEnd = static_cast<std::uint32_t>(ring.end - at);
    const std::uint32_t first = std::min(bytes, toEnd);
    std::memset(at, value, first);
    std::memset(ring.start, value, bytes - first);
}

}  // namespace

std::uint32_t ChunkToPcm(const ChunkSound& sound, std::uint32_t bytes, std::uint8_t* scratch,
                         const PcmRing& ring, std::uint8_t silence) {
    std::uint32_t delivered = 0;
    if (!sound.Compressed) {
        delivered = std::min(bytes, sound.DataBytes);
        CopyIntoRing(ring, sound.Data, delivered);
    } else if (bytes != 0) {
        BitReader bits;
        StartBits(bits, sound.Data, sound.Data + sound.DataBytes);
        delivered = DecodeAudio(bits, bytes, scratch, ring.start, ring.end, ring.at);
    }
    FillRing(ring, Advance(ring, ring.at, delivered), silence, bytes - delivered);
    return delivered;
}

namespace {

std::uint32_t Word32(const std::uint8_t* at) {
    return std::uint32_t{at[0]} | std::uint32_t{at[1]} << 8 | std::uint32_t{at[2]} << 16 |
           std::uint32_t{at[3]} << 24;
}

std::uint32_t RoundUp4096(std::uint32_t bytes) {
    return (bytes + 4095) / 4096 * 4096;
}

}  // namespace

std::uint32_t FrameBytesFixed(std::uint32_t bytesPerSecond, std::uint32_t framePeriod) {
    return static_cast<std::uint32_t>(std::uint64_t{bytesPerSecond} * 1024 * framePeriod / 100000);
}

std::uint32_t TrackRingBytes(std::uint32_t bytesPerSecond, std::uint32_t framePeriod) {
    // One second plus two frames of sound.
    const std::uint32_t ring =
        RoundUp4096(FrameBytesFixed(bytesPerSecond, framePeriod) / 512 + bytesPerSecond);
    return ring < 8192 ? 8192 : ring;
}

std::uint32_t TrackBytesPerSecond(std::uint32_t format) {
    const std::uint32_t rate = (format & TRACK_PRESENT) ? (format & TRACK_RATE_MASK) : 0;
    return rate * ((format & TRACK_16BIT) ? 2 : 1) * ((format & TRACK_STEREO) ? 2 : 1);
}

std::uint32_t TrackChunkLimit(const Movie* movie, int n) {
    const std::uint32_t ring =
        TrackRingBytes(TrackBytesPerSecond(movie->TrackFormat[n]), movie->FramePeriod);
    return movie->TrackMaxBytes[n] < ring ? movie->TrackMaxBytes[n] : ring;
}

ChunkSound MeasureChunk(const Movie* movie, int n) {
    ChunkSound sound;
    const std::uint8_t* chunk = movie->TrackChunk[n];
    if (!chunk || !movie->FrameData || !movie->FrameSizes) return sound;
    if (movie->FrameNumber >= StoredFrames(movie)) return sound;
    auto start = reinterpret_cast<std::uintptr_t>(chunk);
    auto frame = reinterpret_cast<std::uintptr_t>(movie->FrameData);
    const auto frameEnd = reinterpret_cast<std::uintptr_t>(CurrentFrameEnd(movie));
    if (start < frame || start >= frameEnd || frameEnd - start < 4) return sound;
    std::uint32_t length = Word32(chunk);
    if (length > frameEnd - start) length = static_cast<std::uint32_t>(frameEnd - start);
    sound.Compressed = (movie->TrackFormat[n] & TRACK_COMPRESSED) != 0;
    const std::uint32_t header = sound.Compressed ? 8 : 4;
    if (length < header) return sound;
    sound.Data = chunk + header;
    sound.DataBytes = length - header;
    sound.Bytes = sound.Compressed ? Word32(chunk + 4) : sound.DataBytes;
    return sound;
}
