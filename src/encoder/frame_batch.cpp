// SPDX-License-Identifier: MIT
// Stored frames copied into a batch, worked on together, and handed on in order.
#include "encoder/frame_batch.h"

#include "encoder/parts.h"

namespace zambrel::encoder {
namespace {

// Frames a batch holds for each thread: with more than one each, a thread that finishes its
// frame early finds another rather than waiting for the slowest of the batch.
constexpr std::size_t kFramesPerThread = 2;

}  // namespace

FrameBatch::FrameBatch(unsigned threads, std::size_t pixels)
    : threads_(threads), pixels_(pixels), copies_(threads > 1 ? threads * kFramesPerThread : 1) {}

bool FrameBatch::Add(const FramePictures& frame, const Levels* previousPalette) {
    Copy& copy = copies_[size_++];
    if (previousPalette != nullptr) copy.previousPalette = *previousPalette;
    // A batch of one is run before its source moves on, so its pictures need no copy.
    if (copies_.size() == 1) {
        copy.view = frame;
        return true;
    }
    copy.picture.assign(frame.picture, frame.picture + pixels_);
    if (frame.previous != nullptr) copy.previous.assign(frame.previous, frame.previous + pixels_);
    if (frame.palette != nullptr) copy.palette = *frame.palette;
    copy.view = {copy.picture.data(), frame.previous != nullptr ? copy.previous.data() : nullptr,
                 frame.palette != nullptr ? &copy.palette : nullptr, frame.paletteKept};
    return size_ == copies_.size();
}

bool FrameBatch::Run(const std::function<void(std::size_t)>& each,
                     const std::function<bool(std::size_t)>& inOrder) {
    const std::size_t size = size_;
    size_ = 0;
    ForEachPart(threads_, size, each);
    for (std::size_t i = 0; i < size; ++i)
        if (!inOrder(i)) return false;
    return true;
}

}  // namespace zambrel::encoder
