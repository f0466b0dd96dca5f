// SPDX-License-Identifier: MIT
// Bit streams as the movie stores them: least significant bit of each byte first.
#pragma once

#include <cstdint>
#include <vector>

namespace zambrel::encoder {

class BitWriter {
  public:
    void Bit(bool bit);
    // The low `count` bits of `value`, bit 0 first (count 0..64).
    void Bits(std::uint64_t value, unsigned count);
    void Ones(std::uint64_t count);
    std::uint64_t BitCount() const { return bitCount_; }
    // The bytes so far, the last one padded with zero bits.
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

  private:
    std::vector<std::uint8_t> bytes_;
    std::uint64_t bitCount_ = 0;
};

}  // namespace zambrel::encoder
