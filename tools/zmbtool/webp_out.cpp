// SPDX-License-Identifier: MIT
// zmbtool decode's animated WebP, through libwebp's animation encoder.
#include "webp_out.h"

#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <climits>

namespace zmbtool {

namespace {

// The largest side a WebP picture may have.
constexpr std::uint32_t kLargestSide = 16383;
// A frame's duration is stored in 24 bits of ms.
constexpr std::uint64_t kLongestDuration = (1u << 24) - 1;
// A period is in 1/100 ms; WebP durations are in ms.
constexpr std::uint64_t kPeriodPerMs = 100;
// The lossless preset's effort, 0 (fastest) to 9 (smallest). Below 3, files of smooth
// pictures grow by a fifth; above it, no file shrank by more than 6%, for more time.
constexpr int kEffort = 3;

WebPConfig LosslessConfig() {
    WebPConfig config;
    WebPConfigInit(&config);
    WebPConfigLosslessPreset(&config, kEffort);
    return config;
}

// The encoder's own account of a failure names only a number; this says what it means.
std::string EncoderFailure(WebPAnimEncoder* encoder, WebPEncodingError code) {
    static const char* const kReasons[] = {
        "",
        "out of memory",
        "out of memory for the bitstream",
        "a null parameter",
        "bad configuration",
        "bad picture size",
        "a partition too big",
        "a partition too big",
        "the output could not be written",
        "a picture too big",
        "stopped",
    };
    const std::string message = WebPAnimEncoderGetError(encoder);
    const bool known = code > VP8_ENC_OK && code < VP8_ENC_ERROR_LAST;
    std::string reason = "the WebP encoder failed";
    if (known) reason += std::string(", ") + kReasons[code];
    if (!message.empty()) reason += known ? " (" + message + ")" : ": " + message;
    return reason;
}

}  // namespace

WebpWriter::~WebpWriter() {
    if (encoder_ != nullptr) WebPAnimEncoderDelete(encoder_);
}

bool WebpWriter::Open(const std::string& path, std::uint32_t width, std::uint32_t height,
                      std::uint64_t period, std::string* error) {
    width_ = width, height_ = height, period_ = period;
    if (width > kLargestSide || height > kLargestSide) {
        *error = "cannot write " + path + ": WebP pictures are at most 16383 pixels a side";
        return false;
    }
    if (!out_.Open(path, error)) return false;
    WebPAnimEncoderOptions options;
    if (!WebPAnimEncoderOptionsInit(&options)) {
        *error = "cannot write " + path + ": the WebP library is not the one zmbtool was built for";
        return false;
    }
    options.anim_params.loop_count = 0;        // for ever
    options.anim_params.bgcolor = 0xFF000000;  // opaque black, in case a viewer shows it
    options.allow_mixed = 0;                   // lossless only
    encoder_ = WebPAnimEncoderNew(static_cast<int>(width), static_cast<int>(height), &options);
    if (encoder_ == nullptr) {
        *error = "cannot write " + path + ": the WebP encoder could not be made (out of memory)";
        return false;
    }
    argb_.resize(std::size_t{width} * height);
    return true;
}

std::uint64_t WebpWriter::DurationAfter(std::uint64_t frames) const {
    // Periods this long give the longest duration anyway; shorter ones keep n x period far
    // inside 64 bits for any number of frames a movie can have.
    if (period_ >= kLongestDuration * kPeriodPerMs) return kLongestDuration;
    const auto at = [this](std::uint64_t n) {
        return (n * period_ + kPeriodPerMs / 2) / kPeriodPerMs;
    };
    // A frame shorter than a millisecond still needs some time to be shown at all.
    return std::clamp<std::uint64_t>(at(frames + 1) - at(frames), 1, kLongestDuration);
}

bool WebpWriter::Fail(const std::string& reason) {
    if (failure_.empty()) failure_ = "cannot write " + out_.Name() + ": " + reason;
    return false;
}

bool WebpWriter::AddFrame(const IndexedFrame& frame) {
    if (encoder_ == nullptr || !failure_.empty()) return false;
    for (std::uint32_t y = 0; y < height_; ++y) {
        const std::uint8_t* in = frame.Row(y);
        std::uint32_t* to = argb_.data() + std::size_t{y} * width_;
        for (std::uint32_t x = 0; x < width_; ++x) {
            const std::uint8_t* c = frame.palette + in[x] * 3;
            to[x] = 0xFF000000u | std::uint32_t{c[0]} << 16 | std::uint32_t{c[1]} << 8 | c[2];
        }
    }
    if (timestamp_ > INT_MAX) return Fail("longer than a WebP animation can last (24 days)");
    WebPPicture picture;
    WebPPictureInit(&picture);
    picture.use_argb = 1;
    picture.width = static_cast<int>(width_), picture.height = static_cast<int>(height_);
    picture.argb = argb_.data();
    picture.argb_stride = static_cast<int>(width_);
    const WebPConfig config = LosslessConfig();
    if (!WebPAnimEncoderAdd(encoder_, &picture, static_cast<int>(timestamp_), &config))
        return Fail(EncoderFailure(encoder_, picture.error_code));
    timestamp_ += DurationAfter(frames_++);
    return true;
}

bool WebpWriter::Commit(std::string* error) {
    if (encoder_ == nullptr) return true;
    if (frames_ == 0) Fail("no frame was played");
    if (failure_.empty() && timestamp_ > INT_MAX)
        Fail("longer than a WebP animation can last (24 days)");
    WebPData data;
    WebPDataInit(&data);
    // The call without a picture gives the last frame its duration.
    if (failure_.empty() &&
        (!WebPAnimEncoderAdd(encoder_, nullptr, static_cast<int>(timestamp_), nullptr) ||
         !WebPAnimEncoderAssemble(encoder_, &data)))
        Fail(EncoderFailure(encoder_, VP8_ENC_OK));
    const bool written = failure_.empty() && out_.Write(data.bytes, data.size);
    WebPDataClear(&data);
    WebPAnimEncoderDelete(encoder_);
    encoder_ = nullptr;
    if (!written) {
        *error = !failure_.empty() ? failure_ : out_.Failure();
        out_.Discard();
        return false;
    }
    return out_.Commit(error);
}

}  // namespace zmbtool
