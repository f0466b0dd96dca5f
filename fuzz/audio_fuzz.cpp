// SPDX-License-Identifier: MIT
// DecodeAudio alone: any chunk stream, into a ring of any size at any write position, writes
// only inside the ring and never more than the declared size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "decoder/audio_decode.h"
#include "fuzz_input.h"

namespace {
// A declared size of up to 1 MiB lets deltas wrap a small ring many times.
constexpr std::uint32_t kDecodedMask = (1u << 20) - 1;
constexpr std::uint32_t kRingMask = (1u << 16) - 1;

// Bits 4 and up of the word give the declared size, bits 0-3 shift it down: most inputs ask
// for a few thousand bytes and run quickly, a shift of 0 (as the seeds have) for any size.
std::uint32_t DeclaredSize(std::uint32_t word) {
    return ((word >> 4) & kDecodedMask) >> (word & 15);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in{data, size};
    const std::uint32_t decodedBytes = DeclaredSize(in.Word());
    const std::uint32_t ringBytes = (in.Word() & kRingMask) + 1;
    const std::uint32_t writeAt = in.Word() % ringBytes;
    std::vector<std::uint8_t> scratch(kAudioScratchBytes);
    // Guard bytes either side of the ring show a stray write even where the address checker
    // would not, since both sit inside the same allocation.
    constexpr std::uint32_t kGuard = 16;
    std::vector<std::uint8_t> ring(ringBytes + 2 * kGuard, 0xA5);
    std::uint8_t* start = ring.data() + kGuard;
    // The stream is copied to its exact size so a read past its end is caught.
    const std::vector<std::uint8_t> stream(in.data, in.data + in.size);
    BitReader bits;
    StartBits(bits, stream.data(), stream.data() + stream.size());
    const std::uint32_t written =
        DecodeAudio(bits, decodedBytes, scratch.data(), start, start + ringBytes, start + writeAt);
    if (written > decodedBytes) std::abort();
    for (std::uint32_t i = 0; i < kGuard; ++i) {
        if (ring[i] != 0xA5 || ring[kGuard + ringBytes + i] != 0xA5) std::abort();
    }
    return 0;
}
