// SPDX-License-Identifier: MIT
// zmbtool decode's picture streams: our raw layout, Y4M, raw RGB and RGBA, GIF and WebP. Each
// takes the decoded frame as palette indices plus the frame's palette.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "output.h"

namespace zmbtool {

class GifWriter;
class WebpWriter;

// A decoded frame: Height rows of Width palette indices, top row first, PITCH bytes apart,
// and the 768-byte palette (red, green, blue per entry) it is shown with.
struct IndexedFrame {
    std::uint32_t width = 0, height = 0;
    const std::uint8_t* top = nullptr;
    std::ptrdiff_t pitch = 0;
    const std::uint8_t* palette = nullptr;
    const std::uint8_t* Row(std::uint32_t y) const { return top + pitch * std::ptrdiff_t(y); }
};

// The frame period in 1/100 ms for a stored rate code, 0 for an untimed movie. Wide enough
// for every code, including the most negative.
std::uint64_t PeriodOf(std::int32_t rateCode);

// Repeats every pixel FACTOR times across and every row FACTOR times down, so that an
// enlarged picture has no colour the original lacks. Pixels are PIXEL_BYTES wide; OUT is
// packed, top row first.
void Enlarge(const std::uint8_t* top, std::ptrdiff_t pitch, std::uint32_t width,
             std::uint32_t height, std::size_t pixelBytes, std::uint32_t factor,
             std::vector<std::uint8_t>* out);

struct PictureRequest {
    std::string raw, y4m, rgb24, rgba, gif, webp;
    bool chroma444 = false;  // Y4M chroma at full resolution instead of 4:2:0
    // Every stream but --raw shows each pixel as SCALE x SCALE pixels.
    std::uint32_t scale = 1;
};

class PictureOutputs {
  public:
    PictureOutputs();
    ~PictureOutputs();
    // Opens every requested stream and writes its header. PERIOD is the frame period in
    // 1/100 ms, never 0 (untimed movies are given one by the caller). A stream that cannot
    // be opened is left out, with why in Failures(). False when one was.
    bool Open(const PictureRequest& request, std::uint32_t width, std::uint32_t height,
              std::uint64_t period);
    // Each stream stands alone: one that fails is dropped, its temporary removed and the
    // reason kept in Failures(), and the others go on. False when one failed in this frame.
    bool AddFrame(const IndexedFrame& frame);
    // Completes every stream still going. False when one failed.
    bool Finish();
    // One line for each stream that failed, naming it and saying why.
    const std::vector<std::string>& Failures() const { return failures_; }

  private:
    void Drop(OutputFile& out);
    IndexedFrame Enlarged(const IndexedFrame& frame);
    bool WriteY4mFrame(const IndexedFrame& frame);
    bool WriteRgbFrame(const IndexedFrame& frame, OutputFile& out, int bytesPerPixel);

    PictureRequest request_;
    OutputFile raw_, y4m_, rgb24_, rgba_;
    std::unique_ptr<GifWriter> gif_;
    std::unique_ptr<WebpWriter> webp_;
    std::vector<std::uint8_t> planes_, enlarged_;
    std::vector<std::string> failures_;
};

}  // namespace zmbtool
