// SPDX-License-Identifier: MIT
// zmbtool's RGB to Y'CbCr conversion.
#include "yuv.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace zmbtool {

namespace {

// Y'CbCr by the BT.601 matrix in limited (studio) range: a Y4M stream carries no colour
// description, and this is what encoders and players assume for one that does not say.
// Chroma is kept with 6 fractional bits so that 4:2:0 averages round only once.
struct YuvTable {
    std::array<std::uint8_t, 256> y;
    std::array<int, 256> cb64, cr64;
};

YuvTable MakeYuvTable(const std::uint8_t* palette) {
    YuvTable t;
    for (int i = 0; i < 256; ++i) {
        const double r = palette[i * 3], g = palette[i * 3 + 1], b = palette[i * 3 + 2];
        const double luma = 0.299 * r + 0.587 * g + 0.114 * b;
        t.y[i] = static_cast<std::uint8_t>(std::lround(16 + luma * 219.0 / 255.0));
        t.cb64[i] = static_cast<int>(std::lround(64 * (128 + (b - luma) / 1.772 * 224.0 / 255.0)));
        t.cr64[i] = static_cast<int>(std::lround(64 * (128 + (r - luma) / 1.402 * 224.0 / 255.0)));
    }
    return t;
}

std::uint8_t Chroma(int sum64, int shift) {
    return static_cast<std::uint8_t>((sum64 + (1 << (shift - 1))) >> shift);
}

}  // namespace

double ChromaLoss420(const IndexedFrame& frame, const YuvPlanes& planes) {
    double sum = 0;
    for (std::uint32_t row = 0; row < frame.height; ++row) {
        const std::uint8_t* in = frame.Row(row);
        const std::uint8_t* y = planes.y + planes.yPitch * std::ptrdiff_t(row);
        const std::uint8_t* cb = planes.cb + planes.chromaPitch * std::ptrdiff_t(row / 2);
        const std::uint8_t* cr = planes.cr + planes.chromaPitch * std::ptrdiff_t(row / 2);
        for (std::uint32_t x = 0; x < frame.width; ++x) {
            // BT.601's inverse, limited range.
            const double luma = 255.0 / 219.0 * (y[x] - 16);
            const double u = 255.0 / 224.0 * (cb[x / 2] - 128),
                         v = 255.0 / 224.0 * (cr[x / 2] - 128);
            const double shown[3] = {luma + 1.402 * v, luma - 0.344136 * u - 0.714136 * v,
                                     luma + 1.772 * u};
            for (int c = 0; c < 3; ++c) {
                const double d = std::clamp(shown[c], 0.0, 255.0) - frame.palette[in[x] * 3 + c];
                sum += d * d;
            }
        }
    }
    return sum;
}

void FrameToYuv(const IndexedFrame& frame, bool chroma444, const YuvPlanes& planes) {
    const YuvTable t = MakeYuvTable(frame.palette);
    const std::size_t w = frame.width, h = frame.height;
    const std::size_t cw = chroma444 ? w : w / 2, ch = chroma444 ? h : h / 2;
    for (std::size_t row = 0; row < h; ++row) {
        const std::uint8_t* in = frame.Row(static_cast<std::uint32_t>(row));
        std::uint8_t* y = planes.y + planes.yPitch * std::ptrdiff_t(row);
        for (std::size_t x = 0; x < w; ++x) y[x] = t.y[in[x]];
    }
    for (std::size_t row = 0; row < ch; ++row) {
        std::uint8_t* cb = planes.cb + planes.chromaPitch * std::ptrdiff_t(row);
        std::uint8_t* cr = planes.cr + planes.chromaPitch * std::ptrdiff_t(row);
        if (chroma444) {
            const std::uint8_t* in = frame.Row(static_cast<std::uint32_t>(row));
            for (std::size_t x = 0; x < cw; ++x) {
                cb[x] = Chroma(t.cb64[in[x]], 6);
                cr[x] = Chroma(t.cr64[in[x]], 6);
            }
            continue;
        }
        const std::uint8_t* a = frame.Row(static_cast<std::uint32_t>(row * 2));
        const std::uint8_t* b = frame.Row(static_cast<std::uint32_t>(row * 2 + 1));
        for (std::size_t x = 0; x < cw; ++x) {
            const std::size_t l = x * 2, r = l + 1;
            cb[x] = Chroma(t.cb64[a[l]] + t.cb64[a[r]] + t.cb64[b[l]] + t.cb64[b[r]], 8);
            cr[x] = Chroma(t.cr64[a[l]] + t.cr64[a[r]] + t.cr64[b[l]] + t.cr64[b[r]], 8);
        }
    }
}

}  // namespace zmbtool
