// SPDX-License-Identifier: MIT
// zmbtool decode's picture streams.
#include "picture_out.h"

#include <cstring>
#include <numeric>

#include "gif_out.h"
#include "webp_out.h"
#include "yuv.h"
#include "zambrel/movie.h"

namespace zmbtool {

namespace {

constexpr std::size_t kPaletteBytes = ZAMB_PALETTE_BYTES;

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
                          std::uint64_t period) {
    request_ = request;
    std::string error;
    const auto open = [this, &error](OutputFile& out, const std::string& path) {
        if (!path.empty() && !out.Open(path, &error)) failures_.push_back(error);
    };
    open(raw_, request.raw), open(y4m_, request.y4m), open(rgb24_, request.rgb24);
    open(rgba_, request.rgba);
    // --raw is the decoder's own picture; everything else is shown enlarged.
    width *= request.scale, height *= request.scale;
    const std::string header = Y4mHeader(width, height, period, request.chroma444);
    y4m_.Write(header.data(), header.size());
    if (!request.gif.empty()) {
        gif_ = std::make_unique<GifWriter>();
        if (!gif_->Open(request.gif, width, height, period, &error))
            failures_.push_back(error), gif_.reset();
    }
    if (!request.webp.empty()) {
        webp_ = std::make_unique<WebpWriter>();
        if (!webp_->Open(request.webp, width, height, period, &error))
            failures_.push_back(error), webp_.reset();
    }
    return failures_.empty();
}

IndexedFrame PictureOutputs::Enlarged(const IndexedFrame& frame) {
    if (request_.scale == 1) return frame;
    Enlarge(frame.top, frame.pitch, frame.width, frame.height, 1, request_.scale, &enlarged_);
    const std::uint32_t width = frame.width * request_.scale;
    return {width, frame.height * request_.scale, enlarged_.data(), std::ptrdiff_t(width),
            frame.palette};
}

bool PictureOutputs::WriteY4mFrame(const IndexedFrame& frame) {
    const std::size_t w = frame.width, h = frame.height;
    const std::size_t cw = request_.chroma444 ? w : w / 2, ch = request_.chroma444 ? h : h / 2;
    planes_.resize(w * h + 2 * cw * ch);
    YuvPlanes planes;
    planes.y = planes_.data();
    planes.cb = planes.y + w * h;
    planes.cr = planes.cb + cw * ch;
    planes.yPitch = std::ptrdiff_t(w), planes.chromaPitch = std::ptrdiff_t(cw);
    FrameToYuv(frame, request_.chroma444, planes);
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

void PictureOutputs::Drop(OutputFile& out) {
    failures_.push_back(out.Failure());
    out.Discard();
}

bool PictureOutputs::AddFrame(const IndexedFrame& decoded) {
    const std::size_t failed = failures_.size();
    bool raw = raw_.Write(decoded.palette, kPaletteBytes);
    for (std::uint32_t row = 0; row < decoded.height && raw_.IsOpen(); ++row)
        raw = raw_.Write(decoded.Row(row), decoded.width) && raw;
    if (!raw) Drop(raw_);
    if (!y4m_.IsOpen() && !rgb24_.IsOpen() && !rgba_.IsOpen() && !gif_ && !webp_)
        return failures_.size() == failed;
    const IndexedFrame frame = Enlarged(decoded);
    if (y4m_.IsOpen() && !WriteY4mFrame(frame)) Drop(y4m_);
    if (rgb24_.IsOpen() && !WriteRgbFrame(frame, rgb24_, 3)) Drop(rgb24_);
    if (rgba_.IsOpen() && !WriteRgbFrame(frame, rgba_, 4)) Drop(rgba_);
    if (gif_ && !gif_->AddFrame(frame)) failures_.push_back(gif_->Failure()), gif_.reset();
    if (webp_ && !webp_->AddFrame(frame)) failures_.push_back(webp_->Failure()), webp_.reset();
    return failures_.size() == failed;
}

bool PictureOutputs::Finish() {
    const std::size_t failed = failures_.size();
    std::string error;
    for (OutputFile* out : {&raw_, &y4m_, &rgb24_, &rgba_})
        if (!out->Commit(&error)) failures_.push_back(error);
    if (gif_ && !gif_->Commit(&error)) failures_.push_back(error);
    if (webp_ && !webp_->Commit(&error)) failures_.push_back(error);
    gif_.reset(), webp_.reset();
    return failures_.size() == failed;
}

}  // namespace zmbtool
