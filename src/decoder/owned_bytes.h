// SPDX-License-Identifier: MIT
// A block of the library allocator with its size, owned by whoever holds the record.
#pragma once

#include <cstddef>
#include <cstdint>

// Empty until Reserve succeeds; released by its holder (records holding one are plain, so
// that they can be zeroed and copied the way the decoder's records always are).
struct OwnedBytes {
    std::uint8_t* data = nullptr;
    std::size_t size = 0;

    bool Reserve(std::size_t bytes);
    void Release();
};
