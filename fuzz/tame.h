// SPDX-License-Identifier: MIT
// Shared by the whole-movie harnesses: an input with its costliest header claims folded into
// a range that keeps each run quick.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/movie_names.h"

namespace {

// A sound track's ring holds a second and two frames of its sound, and the first frame fills
// it: at full rates that is a quarter of a million deltas per track, which would leave the
// fuzzer decoding sound. Rates are folded below 4,096 Hz and frame periods below half a
// second; the sound harness takes declared sizes of any length on its own. Node areas, which
// the open clears and walks whole however little of them the trees use, are folded below
// 256 KiB each; the tree harness and the hostile movies reach the larger ones.
constexpr std::size_t kFrameRateAt = 16;
constexpr std::size_t kTreeSizesAt = 56;
constexpr std::uint32_t kNodeAreaFold = 256u << 10;
constexpr std::size_t kTrackFormatAt = 72;
constexpr std::uint32_t kRateFold = 4096;
constexpr std::int32_t kMaxPeriodMs = 500;

inline std::uint32_t WordAt(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= std::uint32_t{bytes[at + i]} << (8 * i);
    return value;
}

inline void PutWordAt(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The input with its sound rates, frame period and node areas folded into the quick range. A
// rate of 0 stays 0 and a size keeps its remainder by 4, so what cannot be opened stays so.
inline std::vector<std::uint8_t> Tamed(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> bytes(data, data + size);
    if (bytes.size() < kTrackFormatAt + 4 * ZAMB_TRACK_COUNT) return bytes;
    const auto rate = static_cast<std::int32_t>(WordAt(bytes, kFrameRateAt));
    if (rate > kMaxPeriodMs)
        PutWordAt(bytes, kFrameRateAt, static_cast<std::uint32_t>(rate % kMaxPeriodMs + 1));
    if (rate < -100 * kMaxPeriodMs)
        PutWordAt(bytes, kFrameRateAt, static_cast<std::uint32_t>(rate % (100 * kMaxPeriodMs)));
    for (std::size_t at = kTreeSizesAt; at < kTreeSizesAt + 16; at += 4) {
        const std::uint32_t size = WordAt(bytes, at);
        if (size >= kNodeAreaFold) PutWordAt(bytes, at, size % kNodeAreaFold);
    }
    for (int n = 0; n < ZAMB_TRACK_COUNT; ++n) {
        const std::size_t at = kTrackFormatAt + 4 * std::size_t(n);
        const std::uint32_t format = WordAt(bytes, at);
        std::uint32_t hz = format & TRACK_RATE_MASK;
        if (hz >= kRateFold) hz = hz % (kRateFold - 1) + 1;
        PutWordAt(bytes, at, (format & ~TRACK_RATE_MASK) | hz);
    }
    return bytes;
}

}  // namespace
