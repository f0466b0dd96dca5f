// SPDX-License-Identifier: MIT
// The palette chunk alone: any commands applied to any palette stay inside both buffers.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "decoder/movie.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The palette before the chunk comes from the input too, so copy commands see any levels.
    std::uint8_t palette[768] = {};
    const std::size_t head = size < 768 ? size : 768;
    std::memcpy(palette, data, head);
    // An exact-size copy lets the address checker catch a read one byte past the chunk.
    const std::vector<std::uint8_t> chunk(data + head, data + size);
    ApplyPaletteChunk(palette, chunk.data(), chunk.data() + chunk.size());
    return 0;
}
