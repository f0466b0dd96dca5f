// SPDX-License-Identifier: MIT
// The largest pictures and the fastest sound tracks the decoder accepts.
#pragma once

#include <cstdint>

// Geometry the decoder accepts: larger pictures would make buffer sizes overflow 32 bits.
inline constexpr std::uint32_t kMaxWidth = 8192;
inline constexpr std::uint32_t kMaxHeight = 8192;  // decoded rows, before doubling

// The fastest sound track that is opened. Rates past any sound device's would only serve to
// size rings from a hostile header: at 16 million samples a second a track's ring and device
// buffers come to a hundred megabytes.
inline constexpr std::uint32_t kMaxTrackRate = 192000;
