// SPDX-License-Identifier: MIT
// Stored frames worked on by several threads at once as they come, while what comes of them
// is still taken in playing order.
#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <vector>

#include "encoder/palette_chunk.h"
#include "encoder/parts.h"
#include "encoder/video_coder.h"

#if ZAMBREL_ENCODER_THREADS
#include <condition_variable>
#include <mutex>
#include <thread>
#endif

namespace zambrel::encoder {

// Each frame is held in one of a few slots from when it is added until it has been handed
// on. `each(slot, frame)` runs on any of the threads, several frames at once, and may write
// only what belongs to its slot; `inOrder(slot, frame, previousPalette)` then runs on the
// adding thread for one frame after another in playing order. Threads take frames as they
// come free, so none waits for the slowest of a batch, and frames are handed on while later
// ones are worked on. With one thread both run in Add, on the frame as given.
class FramePipeline {
  public:
    using Each = std::function<void(std::size_t slot, const FramePictures& frame)>;
    using InOrder = std::function<bool(std::size_t slot, const FramePictures& frame,
                                       const Levels& previousPalette)>;

    // Frames of `pixels` pixels each.
    FramePipeline(unsigned threads, std::size_t pixels, Each each, InOrder inOrder);
    ~FramePipeline();
    FramePipeline(const FramePipeline&) = delete;
    FramePipeline& operator=(const FramePipeline&) = delete;

    // How many slots there are: what `each` writes is best kept per slot.
    std::size_t Slots() const { return slots_.size(); }
    // Takes the frame, with the palette it is coloured over when one is given (black
    // otherwise). Its pictures are copied unless there is one slot, so its source may reuse
    // them once Add returns. False once an `inOrder` has returned false.
    bool Add(const FramePictures& frame, const Levels* previousPalette = nullptr);
    // Works on and hands on every frame still held; false as Add.
    bool Finish();

  private:
    enum class Stage { Free, Waiting, Working, Done };
    struct Slot {
        std::vector<std::uint8_t> picture, previous;
        Levels palette{}, previousPalette{};
        FramePictures view{nullptr, nullptr};
        Stage stage = Stage::Free;
        std::exception_ptr failure;  // what `each` threw on a helper
    };

#if ZAMBREL_ENCODER_THREADS
    bool AddToSlot(const FramePictures& frame, const Levels* previousPalette);
    bool Step();
    bool HandOnOldest(std::unique_lock<std::mutex>& lock);
    void WorkOn(std::size_t slot, std::unique_lock<std::mutex>& lock);
    std::size_t WaitingSlot() const;
    void Help();
#endif

    const std::size_t pixels_;
    const Each each_;
    const InOrder inOrder_;
    std::vector<Slot> slots_;
    bool failed_ = false;
#if ZAMBREL_ENCODER_THREADS
    std::size_t added_ = 0, handedOn_ = 0;  // frames, counted in playing order
    bool stop_ = false;
    std::mutex mutex_;  // guards the counts, the slots' stages and stop_
    std::condition_variable changed_;
    std::vector<std::thread> helpers_;
#endif
};

}  // namespace zambrel::encoder
