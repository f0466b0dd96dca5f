// SPDX-License-Identifier: MIT
// Audio chunks: one frame's share of a sound track, raw or delta-coded.
#include "encoder/audio_chunk.h"

#include <algorithm>
#include <array>

#include "encoder/bit_writer.h"
#include "encoder/code_tree.h"

namespace zambrel::encoder {
namespace {

void PutWord(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The samples of one chunk seen as channels of 8- or 16-bit values.
struct SampleView {
    const std::uint8_t* data;
    unsigned channels;
    bool wide;
    std::uint32_t At(std::size_t frame, unsigned channel) const {
        const std::size_t index = frame * channels + channel;
        if (!wide) return data[index];
        return static_cast<std::uint32_t>(data[2 * index] | (data[2 * index + 1] << 8));
    }
    // The byte lanes each value is coded in: one per 8-bit channel, low and high per 16-bit
    // channel; also the order of the chunk's byte trees.
    unsigned Lanes() const { return channels * (wide ? 2 : 1); }
    std::uint8_t DeltaByte(std::size_t frame, unsigned lane) const {
        const unsigned channel = wide ? lane / 2 : lane;
        const std::uint32_t mask = wide ? 0xFFFF : 0xFF;
        const std::uint32_t delta = (At(frame, channel) - At(frame - 1, channel)) & mask;
        return static_cast<std::uint8_t>(wide && (lane & 1) ? delta >> 8 : delta);
    }
};

void WriteFirstFrame(BitWriter& out, const SampleView& view) {
    // Raw, right channel first, 16-bit values high byte first.
    for (unsigned c = view.channels; c-- > 0;) {
        const std::uint32_t value = view.At(0, c);
        if (view.wide) {
            out.Bits(value >> 8, 8);
            out.Bits(value & 0xFF, 8);
        } else {
            out.Bits(value, 8);
        }
    }
}

// The flags, the byte trees of the deltas, the raw first sample frame and the deltas.
void WriteSamples(BitWriter& bits, const SoundTrack& track, const SampleView& view,
                  std::size_t frames, TreeShape shape) {
    std::array<std::array<std::uint64_t, 256>, 4> counts{};
    for (std::size_t frame = 1; frame < frames; ++frame)
        for (unsigned lane = 0; lane < view.Lanes(); ++lane)
            ++counts[lane][view.DeltaByte(frame, lane)];
    std::array<ByteTree, 4> trees;
    for (unsigned lane = 0; lane < view.Lanes(); ++lane)
        trees[lane] = BuildByteTree(counts[lane], shape);
    bits.Bit(track.stereo);
    bits.Bit(track.is16Bit);
    for (unsigned lane = 0; lane < view.Lanes(); ++lane) {
        bits.Bit(true);  // the reader skips this bit: every tree is present
        WriteByteTree(bits, trees[lane]);
    }
    WriteFirstFrame(bits, view);
    for (std::size_t frame = 1; frame < frames; ++frame)
        for (unsigned lane = 0; lane < view.Lanes(); ++lane)
            WriteCode(bits, trees[lane].CodeFor(view.DeltaByte(frame, lane)));
}

std::vector<std::uint8_t> CompressedChunk(const SoundTrack& track, const std::uint8_t* samples,
                                          std::size_t bytes, TreeShape shape) {
    const SampleView view{samples, track.stereo ? 2u : 1u, track.is16Bit};
    const std::size_t frames = bytes / SampleFrameBytes(track);
    BitWriter bits;
    bits.Bit(frames > 0);  // without samples the reader stops after this bit
    if (frames > 0) WriteSamples(bits, track, view, frames, shape);
    std::vector<std::uint8_t> chunk(8 + bits.Bytes().size());
    std::copy(bits.Bytes().begin(), bits.Bytes().end(), chunk.begin() + 8);
    PutWord(chunk, 0, static_cast<std::uint32_t>(chunk.size()));
    PutWord(chunk, 4, static_cast<std::uint32_t>(bytes));
    return chunk;
}

}  // namespace

std::uint32_t SampleFrameBytes(const SoundTrack& track) {
    return (track.is16Bit ? 2u : 1u) * (track.stereo ? 2u : 1u);
}

std::vector<std::uint8_t> BuildAudioChunk(const SoundTrack& track, const std::uint8_t* samples,
                                          std::size_t bytes, TreeShape shape) {
    if (track.compressed) return CompressedChunk(track, samples, bytes, shape);
    std::vector<std::uint8_t> chunk(4 + bytes);
    std::copy(samples, samples + bytes, chunk.begin() + 4);
    PutWord(chunk, 0, static_cast<std::uint32_t>(chunk.size()));
    return chunk;
}

}  // namespace zambrel::encoder
