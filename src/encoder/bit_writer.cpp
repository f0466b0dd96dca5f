// SPDX-License-Identifier: MIT
// Bit streams as the movie stores them: least significant bit of each byte first.
#include "encoder/bit_writer.h"

namespace zambrel::encoder {

void BitWriter::Bit(bool bit) {
    const unsigned position = static_cast<unsigned>(bitCount_ & 7);
    if (position == 0) bytes_.push_back(0);
    if (bit) bytes_.back() = static_cast<std::uint8_t>(bytes_.back() | (1u << position));
    ++bitCount_;
}

// A byte's worth at a time: the writer spends most of its time here on detailed pictures.
void BitWriter::Bits(std::uint64_t value, unsigned count) {
    while (count > 0) {
        const unsigned position = static_cast<unsigned>(bitCount_ & 7);
        if (position == 0) bytes_.push_back(0);
        const unsigned take = count < 8 - position ? count : 8 - position;
        const unsigned piece = static_cast<unsigned>(value) & ((1u << take) - 1);
        bytes_.back() = static_cast<std::uint8_t>(bytes_.back() | (piece << position));
        value >>= take;
        count -= take;
        bitCount_ += take;
    }
}

void BitWriter::Ones(std::uint64_t count) {
    // Lopsided trees give codes of thousands of one bits; whole bytes go in one step.
    const unsigned toByte = static_cast<unsigned>((8 - (bitCount_ & 7)) & 7);
    const unsigned first = count < toByte ? static_cast<unsigned>(count) : toByte;
    Bits(~std::uint64_t{0}, first);
    count -= first;
    bytes_.insert(bytes_.end(), static_cast<std::size_t>(count / 8), std::uint8_t{0xFF});
    bitCount_ += count / 8 * 8;
    Bits(~std::uint64_t{0}, static_cast<unsigned>(count % 8));
}

}  // namespace zambrel::encoder
