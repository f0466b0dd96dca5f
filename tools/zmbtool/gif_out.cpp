// SPDX-License-Identifier: MIT
// zmbtool decode's animated GIF, through giflib.
#include "gif_out.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>

namespace zmbtool {

namespace {

// GIF delays are 16-bit counts of 1/100 s.
constexpr std::uint32_t kLongestDelay = 65535;
// A period is in 1/100 ms; a GIF delay in 1/100 s.
constexpr std::uint64_t kPeriodPerDelay = 1000;

int WriteToOutput(GifFileType* gif, const GifByteType* bytes, int count) {
    auto* out = static_cast<OutputFile*>(gif->UserData);
    return out->Write(bytes, static_cast<std::size_t>(count)) ? count : 0;
}

ColorMapObject* MakeColourMap(const std::uint8_t* palette) {
    GifColorType colours[256];
    for (int i = 0; i < 256; ++i)
        colours[i] = {palette[i * 3], palette[i * 3 + 1], palette[i * 3 + 2]};
    return GifMakeMapObject(256, colours);
}

}  // namespace

GifWriter::~GifWriter() {
    if (gif_ != nullptr) EGifCloseFile(gif_, nullptr);
}

bool GifWriter::Open(const std::string& path, std::uint32_t width, std::uint32_t height,
                     std::uint64_t period, std::string* error) {
    width_ = width, height_ = height, period_ = period;
    if (width > 65535 || height > 65535) {
        *error = "cannot write " + path + ": GIF pictures are at most 65535 pixels a side";
        return false;
    }
    if (!out_.Open(path, error)) return false;
    int status = 0;
    gif_ = EGifOpen(&out_, WriteToOutput, &status);
    if (gif_ == nullptr) {
        *error = "cannot write " + path + ": " + GifErrorString(status);
        return false;
    }
    EGifSetGifVersion(gif_, true);
    shown_.assign(std::size_t{width} * height, 0);
    return true;
}

bool GifWriter::WriteLoopExtension() {
    // The application extension that asks viewers to loop the animation for ever.
    static const GifByteType kName[] = "NETSCAPE2.0";
    static const GifByteType kLoopForever[] = {1, 0, 0};
    return EGifPutExtensionLeader(gif_, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
           EGifPutExtensionBlock(gif_, 11, kName) == GIF_OK &&
           EGifPutExtensionBlock(gif_, 3, kLoopForever) == GIF_OK &&
           EGifPutExtensionTrailer(gif_) == GIF_OK;
}

std::uint32_t GifWriter::DelayAfter(std::uint64_t frames) const {
    // Periods this long give the longest delay anyway; shorter ones keep n x period far
    // inside 64 bits for any number of frames a movie can have.
    if (period_ >= std::uint64_t{kLongestDelay} * kPeriodPerDelay) return kLongestDelay;
    const auto at = [this](std::uint64_t n) {
        return (n * period_ + kPeriodPerDelay / 2) / kPeriodPerDelay;
    };
    return static_cast<std::uint32_t>(
        std::min<std::uint64_t>(at(frames + 1) - at(frames), kLongestDelay));
}

// The bounding box of the pixels whose colour differs from what the GIF shows so far, which
// is always the previous frame's colours. Under an unchanged palette only changed indices
// can change a colour, and whole rows compare at once.
GifWriter::Area GifWriter::ChangedArea(const IndexedFrame& frame) const {
    const bool samePalette = std::memcmp(frame.palette, shownPalette_.data(), 768) == 0;
    std::uint32_t left = width_, right = 0, top = height_, bottom = 0;
    for (std::uint32_t y = 0; y < height_; ++y) {
        const std::uint8_t* in = frame.Row(y);
        const std::uint8_t* was = shown_.data() + std::size_t{y} * width_;
        if (samePalette && std::memcmp(in, was, width_) == 0) continue;
        for (std::uint32_t x = 0; x < width_; ++x) {
            if (in[x] == was[x] && samePalette) continue;
            if (!samePalette &&
                std::memcmp(frame.palette + in[x] * 3, shownPalette_.data() + was[x] * 3, 3) == 0)
                continue;
            left = std::min(left, x), right = std::max(right, x);
            top = std::min(top, y), bottom = std::max(bottom, y);
        }
    }
    if (left > right) return {};
    return {left, top, right - left + 1, bottom - top + 1};
}

bool GifWriter::WritePending() {
    if (!pending_) return true;
    pending_ = false;
    GraphicsControlBlock control{};
    control.DisposalMode = DISPOSE_DO_NOT;
    control.DelayTime = static_cast<int>(delay_);
    control.TransparentColor = NO_TRANSPARENT_COLOR;
    GifByteType extension[4];
    const std::size_t length = EGifGCBToExtension(&control, extension);
    // Frames in the first frame's palette use the global colour table; others carry their own.
    const bool ownPalette = palette_ != global_;
    ColorMapObject* map = ownPalette ? MakeColourMap(palette_.data()) : nullptr;
    if (map == nullptr && gif_->Image.ColorMap != nullptr) {
        // giflib keeps a copy of the last local table and drops it unfreed when the next
        // image has none.
        GifFreeMapObject(gif_->Image.ColorMap);
        gif_->Image.ColorMap = nullptr;
    }
    bool ok = EGifPutExtension(gif_, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension) ==
                  GIF_OK &&
              EGifPutImageDesc(gif_, static_cast<int>(area_.left), static_cast<int>(area_.top),
                               static_cast<int>(area_.width), static_cast<int>(area_.height), false,
                               map) == GIF_OK;
    for (std::uint32_t y = 0; y < area_.height && ok; ++y)
        ok = EGifPutLine(gif_, indices_.data() + std::size_t{y} * area_.width,
                         static_cast<int>(area_.width)) == GIF_OK;
    if (map != nullptr) GifFreeMapObject(map);
    return ok;
}

bool GifWriter::AddFrame(const IndexedFrame& frame) {
    if (gif_ == nullptr || !ok_) return false;
    const std::uint32_t delay = DelayAfter(frames_);
    const bool first = frames_++ == 0;
    Area area = first ? Area{0, 0, width_, height_} : ChangedArea(frame);
    if (!first && area.width == 0 && pending_ && delay_ + delay <= kLongestDelay) {
        delay_ += delay;
        return true;
    }
    if (area.width == 0) area = {0, 0, 1, 1};  // a delay alone still needs a picture
    ok_ = WritePending();
    if (first) {
        std::memcpy(global_.data(), frame.palette, global_.size());
        ColorMapObject* map = MakeColourMap(frame.palette);
        ok_ = ok_ &&
              EGifPutScreenDesc(gif_, static_cast<int>(width_), static_cast<int>(height_), 8, 0,
                                map) == GIF_OK &&
              WriteLoopExtension();
        GifFreeMapObject(map);
    }
    pending_ = true, area_ = area, delay_ = delay;
    std::memcpy(palette_.data(), frame.palette, palette_.size());
    indices_.resize(std::size_t{area.width} * area.height);
    for (std::uint32_t y = 0; y < area.height; ++y)
        std::memcpy(indices_.data() + std::size_t{y} * area.width,
                    frame.Row(area.top + y) + area.left, area.width);
    for (std::uint32_t y = 0; y < height_; ++y)
        std::memcpy(shown_.data() + std::size_t{y} * width_, frame.Row(y), width_);
    std::memcpy(shownPalette_.data(), frame.palette, shownPalette_.size());
    return ok_;
}

bool GifWriter::Commit(std::string* error) {
    if (gif_ == nullptr) return true;
    if (frames_ == 0) {
        // A GIF needs a picture; an empty file would only look like one.
        *error = "cannot write " + out_.Name() + ": no frame was played";
        out_.Discard();
        return false;
    }
    ok_ = ok_ && WritePending();
    int status = 0;
    ok_ = EGifCloseFile(gif_, &status) == GIF_OK && ok_;
    gif_ = nullptr;
    if (!ok_) {
        *error = out_.Failure();
        out_.Discard();
        return false;
    }
    return out_.Commit(error);
}

}  // namespace zmbtool
