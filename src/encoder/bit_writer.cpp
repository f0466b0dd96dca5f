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

// Up to 56 bits in one step: the last byte's free bits and the new ones are joined in one
// word and stored whole bytes at a time. The writer spends most of its time here on
// detailed pictures.
void BitWriter::Bits(std::uint64_t value, unsigned count) {
    while (count > 0) {
        const unsigned take = count < 56 ? count : 56;
        const auto position = static_cast<unsigned>(bitCount_ & 7);
        std::uint64_t word = (value & ((std::uint64_t{1} << take) - 1)) << position;
        // The last byte's unused bits are zeros, so it can be taken back and joined in.
        if (position != 0) {
            word |= bytes_.back();
            bytes_.pop_back();
        }
        const std::size_t at = bytes_.size();
        const unsigned bytes = (position + take + 7) / 8;
        bytes_.resize(at + bytes);
        for (unsigned b = 0; b < bytes; ++b)
            bytes_[at + b] = static_cast<std::uint8_t>(word >> (8 * b));
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
