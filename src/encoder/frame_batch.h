// SPDX-License-Identifier: MIT
// Stored frames gathered a few at a time, so that the work on each can go to several threads
// at once while what comes of them is still taken in playing order.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "encoder/palette_chunk.h"
#include "encoder/video_coder.h"

namespace zambrel::encoder {

class FrameBatch {
  public:
    // Frames of `pixels` pixels each.
    FrameBatch(unsigned threads, std::size_t pixels);

    // Takes the frame, with the palette it is coloured over when one is given. Its pictures
    // point into buffers its source reuses for the next, so they are copied unless the batch
    // holds one frame. True once the batch is full: it must then be run before the source
    // moves on.
    bool Add(const FramePictures& frame, const Levels* previousPalette = nullptr);
    std::size_t Size() const { return size_; }
    const FramePictures& Frame(std::size_t i) const { return copies_[i].view; }
    const Levels& PreviousPalette(std::size_t i) const { return copies_[i].previousPalette; }

    // Calls `each(i)` for every frame of the batch, on the threads at once, then
    // `inOrder(i)` for each in turn on the caller's thread until one returns false, and
    // empties the batch. `each` may write only what belongs to frame i.
    bool Run(const std::function<void(std::size_t)>& each,
             const std::function<bool(std::size_t)>& inOrder);

  private:
    struct Copy {
        std::vector<std::uint8_t> picture, previous;
        Levels palette{}, previousPalette{};
        FramePictures view{nullptr, nullptr};
    };
    unsigned threads_;
    std::size_t pixels_;
    std::vector<Copy> copies_;
    std::size_t size_ = 0;
};

}  // namespace zambrel::encoder
