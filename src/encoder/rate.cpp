// SPDX-License-Identifier: MIT
// The data rate a movie asks of its medium.
#include "encoder/rate.h"

#include <algorithm>

namespace zambrel::encoder {
namespace {

// Calls `visit(first, bytes)` for every second that counts.
template <typename Visit>
void ForEachCountedSecond(const std::vector<std::uint32_t>& s, std::int32_t frameRate,
                          Visit visit) {
    const auto n = static_cast<std::uint32_t>(s.size());
    const std::uint32_t fps = FramesPerSecondOf(frameRate);
    if (n == 0) return;
    if (n - 1 < fps) {
        std::uint64_t total = 0;
        for (std::uint32_t size : s) total += size;
        visit(0, total);
        return;
    }
    std::uint64_t window = 0;
    for (std::uint32_t i = 0; i < fps; ++i) window += s[i];
    for (std::uint32_t first = 1; first + fps + 1 <= n; ++first) {
        window = window - s[first - 1] + s[first + fps - 1];
        visit(first, window);
    }
}

}  // namespace

std::uint32_t FramesPerSecondOf(std::int32_t frameRate) {
    std::uint64_t period = 0;
    if (frameRate > 0) period = static_cast<std::uint64_t>(frameRate) * 100;
    if (frameRate < 0) period = static_cast<std::uint64_t>(-static_cast<std::int64_t>(frameRate));
    if (period == 0) return 100000;
    return static_cast<std::uint32_t>(std::max<std::uint64_t>(1, 100000 / period));
}

BusiestSecond FindBusiestSecond(const std::vector<std::uint32_t>& frameSizes,
                                std::int32_t frameRate) {
    BusiestSecond busiest;
    ForEachCountedSecond(frameSizes, frameRate, [&](std::uint32_t first, std::uint64_t bytes) {
        if (bytes > busiest.bytes) busiest = {bytes, first};
    });
    return busiest;
}

std::vector<std::uint32_t> SecondsOver(const std::vector<std::uint32_t>& frameSizes,
                                       std::int32_t frameRate, std::uint64_t cap) {
    std::vector<std::uint32_t> over;
    ForEachCountedSecond(frameSizes, frameRate, [&](std::uint32_t first, std::uint64_t bytes) {
        if (bytes > cap) over.push_back(first);
    });
    return over;
}

}  // namespace zambrel::encoder
