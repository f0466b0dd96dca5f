// SPDX-License-Identifier: MIT
// Bit reader for the movie's streams: least significant bit of each byte first.
#pragma once

#include <cstdint>

// Never reads a byte at or past `end`: past it the reader supplies zero bits and sets the
// sticky `overrun` flag once any of those bits is consumed. Callers check the flag once
// after a run of reads instead of after every bit.
struct BitReader {
    const std::uint8_t* next = nullptr;
    const std::uint8_t* end = nullptr;
    std::uint64_t buffer = 0;   // bit 0 is the next bit of the stream
    std::uint32_t count = 0;    // bits held in buffer
    std::uint32_t padding = 0;  // of those, the top ones that lie past the end
    bool overrun = false;
};

inline void StartBits(BitReader& bits, const std::uint8_t* start, const std::uint8_t* end) {
    bits = BitReader{};
    bits.next = start;
    bits.end = end;
}

// Keeps at least `need` (at most 57) bits in the buffer.
inline void FillBits(BitReader& bits, std::uint32_t need) {
    while (bits.count < need) {
        std::uint64_t byte = 0;
        if (bits.next < bits.end) {
            byte = *bits.next++;
        } else {
            bits.padding += 8;
        }
        bits.buffer |= byte << bits.count;
        bits.count += 8;
    }
}

// The next n (1 to 32) bits without consuming them.
inline std::uint32_t PeekBits(BitReader& bits, std::uint32_t n) {
    FillBits(bits, n);
    return static_cast<std::uint32_t>(bits.buffer & ((std::uint64_t{1} << n) - 1));
}

// Consumes n bits, which must already be buffered.
inline void DropBits(BitReader& bits, std::uint32_t n) {
    bits.buffer >>= n;
    bits.count -= n;
    if (bits.count < bits.padding) {
        bits.overrun = true;
        bits.padding = bits.count;
    }
}

inline std::uint32_t ReadBits(BitReader& bits, std::uint32_t n) {
    const std::uint32_t value = PeekBits(bits, n);
    DropBits(bits, n);
    return value;
}

inline std::uint32_t ReadBit(BitReader& bits) {
    return ReadBits(bits, 1);
}
