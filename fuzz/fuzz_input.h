// SPDX-License-Identifier: MIT
// Shared by the harnesses: taking little-endian words off the front of a fuzz input.
#pragma once

#include <cstddef>
#include <cstdint>

struct FuzzInput {
    const std::uint8_t* data;
    std::size_t size;

    // A missing byte reads as zero, so every input, however short, is a usable one.
    std::uint32_t Word() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            if (size > 0) {
                value |= std::uint32_t{*data} << (8 * i);
                ++data;
                --size;
            }
        }
        return value;
    }
};
