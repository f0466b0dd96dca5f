// SPDX-License-Identifier: MIT
// zmbtool decode's animated WebP: lossless, so every frame keeps the palette's exact colours;
// durations from the frame rate; looping for ever, as the GIF does. WebP here carries no sound.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "output.h"
#include "picture_out.h"

struct WebPAnimEncoder;

namespace zmbtool {

class WebpWriter {
  public:
    WebpWriter() = default;
    WebpWriter(const WebpWriter&) = delete;
    WebpWriter& operator=(const WebpWriter&) = delete;
    ~WebpWriter();
    // PERIOD: the frame period in 1/100 ms.
    bool Open(const std::string& path, std::uint32_t width, std::uint32_t height,
              std::uint64_t period, std::string* error);
    // False once the encoder has failed; Failure() then says why.
    bool AddFrame(const IndexedFrame& frame);
    // The animation is assembled in memory and written here, whole.
    bool Commit(std::string* error);
    const std::string& Failure() const { return failure_; }

  private:
    // How long the frame after FRAMES frames is shown, in ms. Rounding the running time
    // rather than each frame keeps the animation's length true to the movie's.
    std::uint64_t DurationAfter(std::uint64_t frames) const;
    bool Fail(const std::string& reason);

    OutputFile out_;
    WebPAnimEncoder* encoder_ = nullptr;
    std::uint32_t width_ = 0, height_ = 0;
    std::uint64_t period_ = 0;
    std::uint64_t frames_ = 0;
    std::uint64_t timestamp_ = 0;  // ms: where the next frame starts
    std::vector<std::uint32_t> argb_;
    std::string failure_;
};

}  // namespace zmbtool
