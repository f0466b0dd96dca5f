// SPDX-License-Identifier: MIT
// zmbtool decode's animated GIF: every frame exact, only the area that changed stored, in
// whichever colour table codes it smallest, delays from the frame rate. GIFs carry no sound.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
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
    // A colour table as the GIF stores it: SIZE (a power of two) entries of red, green, blue.
    struct Table {
        std::array<std::uint8_t, 768> colours{};
        int size = 0;
    };
    // For each of the frame's palette indices, its index in a colour table, or -1.
    using Mapping = std::array<int, 256>;
    // One way of storing the pending frame: its pixels in a table, the table, and the width
    // its codes start at.
    struct Plan {
        Mapping map{};         // where a pixel keeps its colour, -1 leaves it see-through only
        int transparent = -1;  // the see-through index, or -1 for none
        int codeBits = 2;
        bool local = false;    // a table of its own, or the global one
        Table table;           // that table
        bool possible = true;  // false: the table lacks a colour, or has no index to spare
        std::size_t TableBytes() const { return local ? 3 * std::size_t(table.size) : 0; }
    };
    // The LZW coder's dictionary, kept from frame to frame: each slot a string's code and the
    // code of that string followed by one pixel.
    using Dictionary = std::vector<std::uint32_t>;
    class Coder;

    Area ChangedArea(const IndexedFrame& frame) const;
    // The delay of the frame after FRAMES frames, in 1/100 s; rounding the running time
    // rather than each frame keeps the animation's length true to the movie's.
    std::uint32_t DelayAfter(std::uint64_t frames) const;
    bool WritePending();
    bool WriteCodes();
    bool WriteLoopExtension();
    bool WriteScreen(const std::uint8_t* palette);
    void TakeArea(const IndexedFrame& frame, const Area& area, bool first);
    void CodeFrame(const std::uint8_t* palette);
    Mapping GlobalMapping(const std::uint8_t* palette) const;
    Plan GlobalPlan(const Mapping& toGlobal, bool seeThrough) const;
    Plan LocalPlan(const std::uint8_t* palette, bool seeThrough) const;
    bool CannotWin(const Plan& plan) const;
    void Try(const Plan& plan);
    std::vector<std::uint8_t> CodePixels(const Plan& plan, std::size_t limit);

    OutputFile out_;
    GifFileType* gif_ = nullptr;
    std::uint32_t width_ = 0, height_ = 0;
    std::uint64_t period_ = 0;
    std::uint64_t frames_ = 0;  // movie frames seen
    // The previous frame, whose colours are what the GIF shows so far.
    std::vector<std::uint8_t> shown_;
    std::array<std::uint8_t, 768> shownPalette_{};
    // The global colour table: every colour of the first frame's palette, and where each is.
    Table global_;
    std::unordered_map<std::uint32_t, int> globalIndex_;
    // The frame waiting for its delay: frames that change nothing lengthen it.
    bool pending_ = false;
    Area area_;
    std::uint32_t delay_ = 0;
    std::vector<std::uint8_t> pixels_;  // its palette indices, area only
    std::vector<std::uint8_t> kept_;    // 1 where the pixel shows what is there already
    // Its palette indices that must be drawn (changed pixels) and that may be (kept ones).
    std::array<bool, 256> drawn_{}, keptUsed_{};
    // The smallest way of storing it found so far, and its codes as GIF sub-blocks.
    Plan best_;
    std::vector<std::uint8_t> codes_;
    // How many LZW codes those are, and how many the last coding tried put.
    std::size_t bestCodes_ = 0, codesPut_ = 0;
    Dictionary dictionary_;
    bool ok_ = true;
};

}  // namespace zmbtool
