// SPDX-License-Identifier: MIT
// The data rate a movie asks of its medium, counted as the players count it.
#pragma once

#include <cstdint>
#include <vector>

namespace zambrel::encoder {

// The busiest second of a movie: the most bytes in a second's worth of consecutive stored
// frames (the frames per second for buffer sizing), and the first of those frames.
struct BusiestSecond {
    std::uint64_t bytes = 0;
    std::uint32_t first = 0;  // counted from 0
};

// The frames per second the players size their buffers by: 100,000 over the period in
// 1/100 ms, 100,000 for an untimed movie, at least 1.
std::uint32_t FramesPerSecondOf(std::int32_t frameRate);

// Counted as the players count it: the first second is left out, since the open reads it
// before playing, and so is the second that ends on the last stored frame, which the ring
// need not carry; a movie shorter than that counts all its bytes.
BusiestSecond FindBusiestSecond(const std::vector<std::uint32_t>& frameSizes,
                                std::int32_t frameRate);

// Every second that counts and holds more than `cap` bytes, by its first frame.
std::vector<std::uint32_t> SecondsOver(const std::vector<std::uint32_t>& frameSizes,
                                       std::int32_t frameRate, std::uint64_t cap);

}  // namespace zambrel::encoder
