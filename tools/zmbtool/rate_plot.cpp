// SPDX-License-Identifier: MIT
// A picture of a movie's data rate.
#include "rate_plot.h"

#include <algorithm>
#include <array>

#include "png_io.h"

namespace zmbtool {
namespace {

constexpr std::uint32_t kWidth = 800, kHeight = 300, kMargin = 10;
enum Colour : std::uint8_t { kBackground, kGrid, kFrame, kSecond, kCap };

// Whether the second from frame `i` of `n` counts as the players count it: not the first,
// which the open reads before playing, nor those reaching the last stored frame; in a movie
// shorter than that, its whole.
bool Counted(std::size_t i, std::size_t n, std::uint32_t fps) {
    return n - 1 < fps ? i == 0 : i >= 1 && i + fps + 1 <= n;
}

// The second starting at each frame; the last ones hold what is left.
std::vector<std::uint64_t> SecondsFrom(const RatePlot& plot) {
    const std::vector<std::uint32_t>& s = plot.frameSizes;
    std::vector<std::uint64_t> seconds(s.size());
    std::uint64_t window = 0;
    for (std::size_t i = s.size(), end = s.size(); i-- > 0;) {
        window += s[i];
        if (end - i > plot.framesPerSecond) window -= s[--end];
        seconds[i] = window;
    }
    return seconds;
}

// A round step (1, 2 or 5 times a power of ten) giving at most ten grid lines up to `peak`.
PlotScale ScaleFor(std::uint64_t peak) {
    peak = std::max<std::uint64_t>(peak, 1);
    for (std::uint64_t power = 1;; power *= 10)
        for (std::uint64_t m : {1, 2, 5})
            if (power * m * 10 >= peak)
                return {(peak + power * m - 1) / (power * m) * power * m, power * m};
}

class Canvas {
  public:
    explicit Canvas(const PlotScale& scale)
        : scale_(scale), pixels_(std::size_t{kWidth} * kHeight, kBackground) {}
    std::uint32_t RowOf(std::uint64_t bytes) const {
        const std::uint64_t inner = kHeight - 2 * kMargin;
        const std::uint64_t up = std::min(bytes, scale_.top) * inner / scale_.top;
        return static_cast<std::uint32_t>(kHeight - kMargin - up);
    }
    void Set(std::uint32_t x, std::uint32_t y, Colour c) {
        if (x < kWidth && y < kHeight) pixels_[std::size_t{y} * kWidth + x] = c;
    }
    void Column(std::uint32_t x, std::uint32_t from, std::uint32_t to, Colour c) {
        for (std::uint32_t y = std::min(from, to); y <= std::max(from, to); ++y) Set(x, y, c);
    }
    void Row(std::uint32_t y, Colour c) {
        for (std::uint32_t x = 0; x < kWidth; ++x) Set(x, y, c);
    }
    const std::uint8_t* Pixels() const { return pixels_.data(); }

  private:
    PlotScale scale_;
    std::vector<std::uint8_t> pixels_;
};

}  // namespace

bool WriteRatePlot(const RatePlot& plot, const std::string& path, PlotScale* scale,
                   std::string* error) {
    const std::vector<std::uint64_t> seconds = SecondsFrom(plot);
    const std::size_t n = seconds.size();
    const std::uint32_t fps = plot.framesPerSecond;
    // The first and last frames, read before playing or needing no second after them, do
    // not set the scale: their bars may run off the top.
    std::uint64_t peak = plot.cap;
    for (std::size_t i = 0; i < n; ++i)
        if (Counted(i, n, fps))
            peak = std::max({peak, seconds[i], std::uint64_t{plot.frameSizes[i]} * fps});
    *scale = ScaleFor(peak);
    Canvas canvas(*scale);
    for (std::uint64_t line = 0; line <= scale->top; line += scale->step)
        canvas.Row(canvas.RowOf(line), kGrid);
    const std::uint32_t plotWidth = kWidth - 2 * kMargin;
    std::uint32_t lastY = 0;
    for (std::uint32_t x = 0; x < plotWidth && n > 0; ++x) {
        // The busiest frame and second under each column, so no peak is lost to the scale.
        const std::size_t from = x * n / plotWidth,
                          to = std::max(from + 1, (x + 1) * n / plotWidth);
        std::uint64_t frame = 0, second = 0;
        bool counted = false;
        for (std::size_t i = from; i < to && i < n; ++i) {
            frame = std::max(frame, std::uint64_t{plot.frameSizes[i]} * fps);
            if (!Counted(i, n, fps)) continue;
            second = std::max(second, seconds[i]);
            counted = true;
        }
        const std::uint32_t column = kMargin + x, y = canvas.RowOf(second);
        canvas.Column(column, canvas.RowOf(0), canvas.RowOf(frame), kFrame);
        if (counted) canvas.Column(column, lastY == 0 ? y : lastY, y, kSecond);
        lastY = counted ? y : 0;
    }
    if (plot.cap != 0) canvas.Row(canvas.RowOf(plot.cap), kCap);
    std::array<std::uint8_t, 768> palette{};
    const std::uint8_t colours[][3] = {
        {255, 255, 255}, {224, 224, 224}, {150, 180, 230}, {20, 40, 110}, {220, 30, 30}};
    for (std::size_t c = 0; c < std::size(colours); ++c)
        std::copy(colours[c], colours[c] + 3, palette.begin() + static_cast<long>(3 * c));
    return WriteIndexedPng(path, kWidth, kHeight, canvas.Pixels(), palette.data(), error);
}

}  // namespace zmbtool
