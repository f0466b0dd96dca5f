// SPDX-License-Identifier: MIT
// zmbtool decode's animated GIF: every frame exact in its own palette, only the area that
// changed stored, delays from the frame rate. GIFs carry no sound.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "output.h"
#include "picture_out.h"

struct GifFileType;

namespace zmbtool {

class GifWriter {
  public:
    GifWriter() = default;
    GifWriter(const GifWriter&) = delete;
    GifWriter& operator=(const GifWriter&) = delete;
    ~GifWriter();
    // PERIOD: the frame period in 1/100 ms.
    bool Open(const std::string& path, std::uint32_t width, std::uint32_t height,
              std::uint64_t period, std::string* error);
    bool AddFrame(const IndexedFrame& frame);
    bool Commit(std::string* error);
    // Why AddFrame failed: the file could not be written.
    std::string Failure() const { return out_.Failure(); }

  private:
    struct Area {
        std::uint32_t left = 0, top = 0, width = 0, height = 0;
    };
    Area ChangedArea(const IndexedFrame& frame) const;
    // The delay of the frame after FRAMES frames, in 1/100 s; rounding the running time
    // rather than each frame keeps the animation's length true to the movie's.
    std::uint32_t DelayAfter(std::uint64_t frames) const;
    bool WritePending();
    int SeeThroughUnchanged(const IndexedFrame& frame);
    int KeepUsedColours();
    class Coder;
    std::vector<std::uint8_t> CodePixels(int bits);
    void CodeFrame(bool first);
    bool WriteCodes();
    bool WriteLoopExtension();

    OutputFile out_;
    GifFileType* gif_ = nullptr;
    std::uint32_t width_ = 0, height_ = 0;
    std::uint64_t period_ = 0;
    std::uint64_t frames_ = 0;  // movie frames seen
    // The previous frame, whose colours are what the GIF shows so far.
    std::vector<std::uint8_t> shown_;
    std::array<std::uint8_t, 768> shownPalette_{};
    std::array<std::uint8_t, 768> global_{};  // the first frame's palette
    // The frame waiting for its delay: frames that change nothing lengthen it.
    bool pending_ = false;
    Area area_;
    std::vector<std::uint8_t> indices_;
    // For each see-through pixel its own index, which shows the same; empty when none.
    std::vector<std::uint8_t> alternatives_;
    std::vector<std::uint16_t> table_;  // the LZW coder's, kept from frame to frame
    std::vector<std::uint8_t> codes_;   // the pending frame's, as GIF sub-blocks
    int codeBits_ = 8;
    std::array<std::uint8_t, 768> palette_{};
    std::uint32_t delay_ = 0;
    int transparent_ = -1;  // the pending frame's see-through index, or -1 for none
    int tableSize_ = 256;   // the pending frame's colour table: 256, or its own smaller one
    bool ok_ = true;
};

}  // namespace zmbtool
