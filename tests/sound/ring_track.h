// SPDX-License-Identifier: MIT
// A sound track over a ring of its own, filled as the decoder fills it, for the driver tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sound/track.h"

struct RingTrack {
    SoundTrack track{};
    std::vector<std::uint8_t> ring;

    RingTrack(std::uint32_t rate, bool wide, bool stereo, std::uint32_t ringSize = 65536)
        : ring(ringSize) {
        track.RingStart = track.RingRead = track.RingWrite = ring.data();
        track.RingEnd = ring.data() + ringSize;
        track.RingSize = ringSize;
        track.SampleRate = rate;
        track.Is16Bit = wide;
        track.IsStereo = stereo;
        track.BytesPerSecond = rate * (wide ? 2 : 1) * (stereo ? 2 : 1);
    }
    // Puts bytes into the ring as the decoder does.
    void Put(const std::vector<std::uint8_t>& bytes) {
        for (std::uint8_t byte : bytes) {
            *track.RingWrite++ = byte;
            if (track.RingWrite == track.RingEnd) track.RingWrite = track.RingStart;
        }
        RingFillAdd(&track, static_cast<std::uint32_t>(bytes.size()));
    }
};

// 8-bit sound that is never 0x80, so that the silence a driver adds is told from it.
inline std::vector<std::uint8_t> Pattern(std::size_t count, unsigned seed) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 13 + seed);
        if (bytes[i] == 0x80) bytes[i] = 0x81;
    }
    return bytes;
}
