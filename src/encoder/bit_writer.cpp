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

void BitWriter::Bits(std::uint64_t value, unsigned count) {
    for (unsigned i = 0; i < count; ++i) Bit(((value >> i) & 1) != 0);
}

void BitWriter::Ones(std::uint64_t count) {
    // Lopsided trees give codes of thousands of one bits; whole bytes go in one step.
    while (count > 0 && (bitCount_ & 7) != 0) {
        Bit(true);
        --count;
    }
    bytes_.insert(bytes_.end(), static_cast<std::size_t>(count / 8), std::uint8_t{0xFF});
    bitCount_ += count / 8 * 8;
    for (count %= 8; count > 0; --count) Bit(true);
}

}  // namespace zambrel::encoder
