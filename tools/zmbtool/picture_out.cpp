// SPDX-License-Identifier: MIT
// zmbtool decode's picture streams.
#include "picture_out.h"

#include <array>
#include <cmath>
#include <cstring>
#include <numeric>

#include "gif_out.h"
#include "webp_out.h"
#include "zambrel/movie.h"

namespace zmbtool {

namespace {

constexpr std::size_t kPaletteBytes = ZAMB_PALETTE_BYTES;

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

std::string Y4mHeader(std::uint32_t width, std::uint32_t height, std::uint64_t period,
                      bool chroma444) {
    // period/100 ms per frame = 100000/period frames per second, kept as an exact fraction.
    const std::uint64_t divisor = std::gcd(std::uint64_t{100000}, period);
    return "YUV4MPEG2 W" + std::to_string(width) + " H" + std::to_string(height) + " F" +
           std::to_string(100000 / divisor) + ":" + std::to_string(period / divisor) + " Ip A1:1 " +
           (chroma444 ? "C444" : "C420jpeg XYSCSS=420JPEG") + " XCOLORRANGE=LIMITED\n";
}

}  // namespace

std::uint64_t PeriodOf(std::int32_t rateCode) {
    if (rateCode > 0) return std::uint64_t(rateCode) * 100;
    return std::uint64_t(-std::int64_t{rateCode});
}

void Enlarge(const std::uint8_t* top, std::ptrdiff_t pitch, std::uint32_t width,
             std::uint32_t height, std::size_t pixelBytes, std::uint32_t factor,
             std::vector<std::uint8_t>* out) {
    const std::size_t rowBytes = std::size_t{width} * pixelBytes * factor;
    out->resize(rowBytes * height * factor);
    std::uint8_t* to = out->data();
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint8_t* in = top + pitch * std::ptrdiff_t(y);
        std::uint8_t* first = to;
        for (std::uint32_t x = 0; x < width; ++x, in += pixelBytes)
            for (std::uint32_t n = 0; n < factor; ++n, to += pixelBytes)
                std::memcpy(to, in, pixelBytes);
        // The row's copies below it are the row itself.
        for (std::uint32_t n = 1; n < factor; ++n, to += rowBytes) std::memcpy(to, first, rowBytes);
    }
}

PictureOutputs::PictureOutputs() = default;
PictureOutputs::~PictureOutputs() = default;

bool PictureOutputs::Open(const PictureRequest& request, std::uint32_t width, std::uint32_t height,
                          std::uint64_t period, std::string* error) {
    request_ = request;
    const auto open = [error](OutputFile& out, const std::string& path) {
        return path.empty() || out.Open(path, error);
    };
    if (!open(raw_, request.raw) || !open(y4m_, request.y4m) || !open(rgb24_, request.rgb24) ||
        !open(rgba_, request.rgba))
        return false;
    // --raw is the decoder's own picture; everything else is shown enlarged.
    width *= request.scale, height *= request.scale;
    const std::string header = Y4mHeader(width, height, period, request.chroma444);
    y4m_.Write(header.data(), header.size());
    if (!request.gif.empty()) {
        gif_ = std::make_unique<GifWriter>();
        if (!gif_->Open(request.gif, width, height, period, error)) return false;
    }
    if (!request.webp.empty()) {
        webp_ = std::make_unique<WebpWriter>();
        if (!webp_->Open(request.webp, width, height, period, error)) return false;
    }
    return true;
}

IndexedFrame PictureOutputs::Enlarged(const IndexedFrame& frame) {
    if (request_.scale == 1) return frame;
    Enlarge(frame.top, frame.pitch, frame.width, frame.height, 1, request_.scale, &enlarged_);
    const std::uint32_t width = frame.width * request_.scale;
    return {width, frame.height * request_.scale, enlarged_.data(), std::ptrdiff_t(width),
            frame.palette};
}

bool PictureOutputs::WriteY4mFrame(const IndexedFrame& frame) {
    const YuvTable t = MakeYuvTable(frame.palette);
    const std::size_t w = frame.width, h = frame.height;
    const std::size_t cw = request_.chroma444 ? w : w / 2, ch = request_.chroma444 ? h : h / 2;
    planes_.resize(w * h + 2 * cw * ch);
    std::uint8_t* y = planes_.data();
    std::uint8_t* cb = y + w * h;
    std::uint8_t* cr = cb + cw * ch;
    for (std::size_t row = 0; row < h; ++row) {
        const std::uint8_t* in = frame.Row(static_cast<std::uint32_t>(row));
        for (std::size_t x = 0; x < w; ++x) y[row * w + x] = t.y[in[x]];
    }
    for (std::size_t row = 0; row < ch; ++row) {
        if (request_.chroma444) {
            const std::uint8_t* in = frame.Row(static_cast<std::uint32_t>(row));
            for (std::size_t x = 0; x < cw; ++x) {
                cb[row * cw + x] = Chroma(t.cb64[in[x]], 6);
                cr[row * cw + x] = Chroma(t.cr64[in[x]], 6);
            }
            continue;
        }
        const std::uint8_t* a = frame.Row(static_cast<std::uint32_t>(row * 2));
        const std::uint8_t* b = frame.Row(static_cast<std::uint32_t>(row * 2 + 1));
        for (std::size_t x = 0; x < cw; ++x) {
            const std::size_t l = x * 2, r = l + 1;
            cb[row * cw + x] = Chroma(t.cb64[a[l]] + t.cb64[a[r]] + t.cb64[b[l]] + t.cb64[b[r]], 8);
            cr[row * cw + x] = Chroma(t.cr64[a[l]] + t.cr64[a[r]] + t.cr64[b[l]] + t.cr64[b[r]], 8);
        }
    }
    return y4m_.Write("FRAME\n", 6) && y4m_.Write(planes_.data(), planes_.size());
}

bool PictureOutputs::WriteRgbFrame(const IndexedFrame& frame, OutputFile& out, int bytesPerPixel) {
    const std::size_t rowBytes = std::size_t{frame.width} * bytesPerPixel;
    planes_.resize(rowBytes * frame.height);
    std::uint8_t* to = planes_.data();
    for (std::uint32_t row = 0; row < frame.height; ++row) {
        const std::uint8_t* in = frame.Row(row);
        for (std::uint32_t x = 0; x < frame.width; ++x, to += bytesPerPixel) {
            const std::uint8_t* colour = frame.palette + in[x] * 3;
            to[0] = colour[0], to[1] = colour[1], to[2] = colour[2];
            if (bytesPerPixel == 4) to[3] = 0xFF;
        }
    }
    return out.Write(planes_.data(), planes_.size());
}

bool PictureOutputs::AddFrame(const IndexedFrame& decoded) {
    bool ok = raw_.Write(decoded.palette, kPaletteBytes);
    for (std::uint32_t row = 0; row < decoded.height && raw_.IsOpen(); ++row)
        ok = raw_.Write(decoded.Row(row), decoded.width) && ok;
    if (!y4m_.IsOpen() && !rgb24_.IsOpen() && !rgba_.IsOpen() && !gif_ && !webp_) return ok;
    const IndexedFrame frame = Enlarged(decoded);
    if (y4m_.IsOpen()) ok = WriteY4mFrame(frame) && ok;
    if (rgb24_.IsOpen()) ok = WriteRgbFrame(frame, rgb24_, 3) && ok;
    if (rgba_.IsOpen()) ok = WriteRgbFrame(frame, rgba_, 4) && ok;
    if (gif_) ok = gif_->AddFrame(frame) && ok;
    return (!webp_ || webp_->AddFrame(frame)) && ok;
}

std::string PictureOutputs::Failure() const {
    return webp_ && !webp_->Failure().empty() ? webp_->Failure() : "cannot write the outputs";
}

bool PictureOutputs::Finish(std::string* error) {
    return raw_.Commit(error) && y4m_.Commit(error) && rgb24_.Commit(error) &&
           rgba_.Commit(error) && (!gif_ || gif_->Commit(error)) &&
           (!webp_ || webp_->Commit(error));
}

}  // namespace zmbtool
