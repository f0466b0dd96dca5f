// SPDX-License-Identifier: MIT
// Decoding compressed sound chunks into a ring.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "decoder/audio_decode.h"
#include "decoder/byte_tables.h"
#include "encoder/audio_chunk.h"
#include "encoder/bit_writer.h"

namespace {

using zambrel::encoder::BitWriter;

// A byte tree of one leaf: decoding it takes no bits.
void SingleLeaf(BitWriter& bits, std::uint8_t value) {
    bits.Bit(true);  // presence bit, ignored
    bits.Bit(false);
    bits.Bits(value, 8);
    bits.Bit(false);
}

// A byte tree of two leaves: bit 0 gives `zero`, bit 1 gives `one`.
void TwoLeaves(BitWriter& bits, std::uint8_t zero, std::uint8_t one) {
    bits.Bit(true);
    bits.Bit(true);
    bits.Bit(false);
    bits.Bits(zero, 8);
    bits.Bit(false);
    bits.Bits(one, 8);
    bits.Bit(false);
}

struct Decoded {
    std::uint32_t written;
    std::vector<std::uint8_t> ring;
};

Decoded Decode(const BitWriter& stream, std::uint32_t decodedBytes, std::uint32_t ringSize = 64,
               std::uint32_t writeAt = 0) {
    std::vector<std::uint8_t> scratch(kAudioScratchBytes);
    Decoded out{0, std::vector<std::uint8_t>(ringSize, 0xEE)};
    const auto& bytes = stream.Bytes();
    BitReader bits;
    StartBits(bits, bytes.data(), bytes.data() + bytes.size());
    out.written = DecodeAudio(bits, decodedBytes, scratch.data(), out.ring.data(),
                              out.ring.data() + ringSize, out.ring.data() + writeAt);
    return out;
}

TEST(DecodeAudio, StereoFirstFrameIsStoredRightBeforeLeftAndChannelsNeverCarry) {
    BitWriter stream;
    stream.Bit(true);   // samples
    stream.Bit(true);   // stereo
    stream.Bit(false);  // 8-bit
    SingleLeaf(stream, 0x20);
    SingleLeaf(stream, 0xF0);
    stream.Bits(0x90, 8);  // right
    stream.Bits(0x70, 8);  // left
    Decoded out = Decode(stream, 6);
    EXPECT_EQ(out.written, 6u);
    std::vector<std::uint8_t> expected = {0x70, 0x90, 0x90, 0x80, 0xB0, 0x70};
    EXPECT_EQ(std::vector<std::uint8_t>(out.ring.begin(), out.ring.begin() + 6), expected);
    EXPECT_EQ(out.ring[6], 0xEE);
}

TEST(DecodeAudio, SixteenBitDeltasCarryFromTheLowIntoTheHighByte) {
    BitWriter stream;
    stream.Bit(true);
    stream.Bit(false);         // mono
    stream.Bit(true);          // 16-bit
    SingleLeaf(stream, 0xFF);  // low delta byte
    SingleLeaf(stream, 0x00);  // high delta byte
    stream.Bits(0x12, 8);      // first value, high byte first
    stream.Bits(0x34, 8);
    Decoded out = Decode(stream, 6);
    std::vector<std::uint8_t> expected = {0x34, 0x12, 0x33, 0x13, 0x32, 0x14};
    EXPECT_EQ(std::vector<std::uint8_t>(out.ring.begin(), out.ring.begin() + 6), expected);
}

TEST(DecodeAudio, WritesNothingWithoutSamplesOrWithoutSize) {
    BitWriter none;
    none.Bit(false);
    none.Bits(0xFFFF, 16);
    Decoded out = Decode(none, 8);
    EXPECT_EQ(out.written, 0u);
    EXPECT_EQ(out.ring, std::vector<std::uint8_t>(64, 0xEE));

    BitWriter empty;
    empty.Bits(0b001, 3);  // samples, mono, 8-bit
    SingleLeaf(empty, 1);
    out = Decode(empty, 0);
    EXPECT_EQ(out.written, 0u);
}

TEST(DecodeAudio, WrapsAtTheRingEndAndStopsAtTheDeclaredSize) {
    BitWriter stream;
    stream.Bits(0b001, 3);
    SingleLeaf(stream, 1);
    stream.Bits(10, 8);
    Decoded out = Decode(stream, 5, 8, 6);  // not a whole number of anything: still 5
    EXPECT_EQ(out.written, 5u);
    std::vector<std::uint8_t> expected = {12, 13, 14, 0xEE, 0xEE, 0xEE, 10, 11};
    EXPECT_EQ(out.ring, expected);
}

TEST(DecodeAudio, StopsWhenTheBitsRunOutInsteadOfReadingPastTheChunk) {
    BitWriter stream;
    stream.Bits(0b001, 3);
    TwoLeaves(stream, 1, 2);
    stream.Bits(100, 8);
    stream.Bits(0b1010, 4);  // four deltas: 1, 2, 1, 2
    // The stream's last byte is padded with zero bits, each one more delta of 1.
    Decoded out = Decode(stream, 60);
    ASSERT_GE(out.written, 5u);
    EXPECT_LT(out.written, 60u);
    std::vector<std::uint8_t> expected = {100, 101, 103, 104, 106};
    EXPECT_EQ(std::vector<std::uint8_t>(out.ring.begin(), out.ring.begin() + 5), expected);
    EXPECT_EQ(out.ring[out.written], 0xEE);
}

TEST(DecodeAudio, BadTreeWritesNothing) {
    BitWriter stream;
    stream.Bits(0b001, 3);
    stream.Bit(true);
    stream.Ones(600);  // deeper than any byte tree may be
    Decoded out = Decode(stream, 16);
    EXPECT_EQ(out.written, 0u);
    EXPECT_EQ(out.ring, std::vector<std::uint8_t>(64, 0xEE));
}

// The writer's chunks decode back to the samples, for every sample format.
TEST(DecodeAudio, WriterChunksDecodeToTheirSamples) {
    std::mt19937 random(7);
    for (int format = 0; format < 4; ++format) {
        zambrel::encoder::SoundTrack track;
        track.present = true;
        track.stereo = format & 1;
        track.is16Bit = format & 2;
        std::vector<std::uint8_t> samples(4000);
        int value = 0;
        for (auto& byte : samples) byte = static_cast<std::uint8_t>(value += random() % 9 - 4);
        auto chunk = zambrel::encoder::BuildAudioChunk(track, samples.data(), samples.size(),
                                                       zambrel::encoder::TreeShape::Huffman);
        ASSERT_GE(chunk.size(), 8u);
        std::uint32_t declared = chunk[4] | chunk[5] << 8 | chunk[6] << 16 | chunk[7] << 24;
        ASSERT_EQ(declared, samples.size());
        std::vector<std::uint8_t> scratch(kAudioScratchBytes), ring(8192, 0xEE);
        BitReader bits;
        StartBits(bits, chunk.data() + 8, chunk.data() + chunk.size());
        std::uint32_t written = DecodeAudio(bits, declared, scratch.data(), ring.data(),
                                            ring.data() + ring.size(), ring.data() + 5000);
        ASSERT_EQ(written, samples.size()) << "format " << format;
        std::vector<std::uint8_t> back(ring.begin() + 5000, ring.end());
        back.insert(back.end(), ring.begin(), ring.begin() + (4000 - 3192));
        EXPECT_EQ(back, samples) << "format " << format;
    }
}

// A byte tree of `leaves` leaves in the stream's pre-order form. The splits lean to one side
// or the other now and then, so that some codes run far past a table step.
void RandomTree(BitWriter& bits, std::mt19937& random, std::uint32_t leaves) {
    if (leaves == 1) {
        bits.Bit(false);
        bits.Bits(random() & 0xFF, 8);
        return;
    }
    std::uint32_t zeroSide = 1 + random() % (leaves - 1);
    if (random() % 3 == 0) zeroSide = random() % 2 ? 1 : leaves - 1;
    bits.Bit(true);
    RandomTree(bits, random, zeroSide);
    RandomTree(bits, random, leaves - zeroSide);
}

// Bits that lean to ones or zeros reach the deep ends of the lopsided trees.
std::vector<std::uint8_t> RandomCodes(std::mt19937& random, double ones) {
    std::bernoulli_distribution bit(ones);
    std::vector<std::uint8_t> bytes(random() % 48);
    for (auto& byte : bytes)
        for (int i = 0; i < 8; ++i) byte = static_cast<std::uint8_t>(byte | bit(random) << i);
    return bytes;
}

// The table look-up gives the values the walk a bit at a time gives, and runs past the
// stream's end at the same code, on trees of every shape and depth.
TEST(ByteTables, DecodeExactlyWhatTheTreeWalkDecodes) {
    std::mt19937 random(11);
    const double leanings[] = {0.03, 0.5, 0.97};
    for (int round = 0; round < 600; ++round) {
        BitWriter treeBits;
        RandomTree(treeBits, random, 1 + random() % 256);
        treeBits.Bit(false);  // closing bit
        BitReader reader;
        StartBits(reader, treeBits.Bytes().data(),
                  treeBits.Bytes().data() + treeBits.Bytes().size());
        std::uint32_t nodes[kByteTreeBytes / 4];
        ASSERT_NE(ReadByteTree(reader, nodes), 0u);
        ByteTable table;
        BuildByteTable(nodes, table);

        const auto codes = RandomCodes(random, leanings[round % 3]);
        BitReader walked, looked;
        StartBits(walked, codes.data(), codes.data() + codes.size());
        StartBits(looked, codes.data(), codes.data() + codes.size());
        // Every code of a tree of two or more leaves takes a bit, so the bits run out.
        for (std::size_t i = 0; i <= 8 * codes.size() + 1 && !walked.overrun; ++i) {
            ASSERT_EQ(DecodeByteByTable(nodes, table, looked), DecodeByte(nodes, walked))
                << "round " << round << ", code " << i;
            ASSERT_EQ(looked.overrun, walked.overrun) << "round " << round << ", code " << i;
        }
    }
}

}  // namespace
