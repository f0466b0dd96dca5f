// SPDX-License-Identifier: MIT
// Stored frames copied into slots, worked on by the threads as they come free, and handed on
// in order by the thread that added them.
#include "encoder/frame_pipeline.h"

#include <system_error>
#include <utility>

namespace zambrel::encoder {
namespace {

// Slots for each thread: with more than one each, a thread that finishes its frame early
// finds another rather than waiting for the one to be handed on next.
constexpr std::size_t kSlotsPerThread = 2;

}  // namespace

FramePipeline::FramePipeline(unsigned threads, std::size_t pixels, Each each, InOrder inOrder)
    : pixels_(pixels), each_(std::move(each)), inOrder_(std::move(inOrder)) {
    const unsigned usable = UsableThreads(threads);
    slots_.resize(usable > 1 ? usable * kSlotsPerThread : 1);
#if ZAMBREL_ENCODER_THREADS
    // A thread the system will not start leaves its frames to the others and this one.
    try {
        for (unsigned t = 1; t < usable; ++t) helpers_.emplace_back([this] { Help(); });
    } catch (const std::system_error&) {
    }
#endif
}

FramePipeline::~FramePipeline() {
#if ZAMBREL_ENCODER_THREADS
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        changed_.notify_all();
    }
    for (std::thread& helper : helpers_) helper.join();
#endif
}

bool FramePipeline::Add(const FramePictures& frame, const Levels* previousPalette) {
    if (failed_) return false;
    if (slots_.size() == 1) {
        each_(0, frame);
        failed_ = !inOrder_(0, frame, previousPalette != nullptr ? *previousPalette : Levels{});
        return !failed_;
    }
#if ZAMBREL_ENCODER_THREADS
    return AddToSlot(frame, previousPalette);
#else
    return false;  // there are slots for more than one thread only where there are threads
#endif
}

bool FramePipeline::Finish() {
#if ZAMBREL_ENCODER_THREADS
    while (!failed_ && handedOn_ < added_)
        if (!Step()) return false;
#endif
    return !failed_;
}

#if ZAMBREL_ENCODER_THREADS

bool FramePipeline::AddToSlot(const FramePictures& frame, const Levels* previousPalette) {
    while (added_ - handedOn_ == slots_.size())
        if (!Step()) return false;
    // A free slot is this thread's alone until it is marked waiting.
    Slot& slot = slots_[added_ % slots_.size()];
    slot.previousPalette = previousPalette != nullptr ? *previousPalette : Levels{};
    slot.picture.assign(frame.picture, frame.picture + pixels_);
    if (frame.previous != nullptr) slot.previous.assign(frame.previous, frame.previous + pixels_);
    if (frame.palette != nullptr) slot.palette = *frame.palette;
    slot.view = {slot.picture.data(), frame.previous != nullptr ? slot.previous.data() : nullptr,
                 frame.palette != nullptr ? &slot.palette : nullptr, frame.paletteKept};
    const std::lock_guard<std::mutex> lock(mutex_);
    slot.stage = Stage::Waiting;
    ++added_;
    changed_.notify_all();
    return true;
}

// Hands on the oldest frame once it is done; until then works on a waiting frame here, or
// waits for one of the two.
bool FramePipeline::Step() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (slots_[handedOn_ % slots_.size()].stage == Stage::Done) return HandOnOldest(lock);
        const std::size_t waiting = WaitingSlot();
        if (waiting < slots_.size())
            WorkOn(waiting, lock);
        else
            changed_.wait(lock);
    }
}

bool FramePipeline::HandOnOldest(std::unique_lock<std::mutex>& lock) {
    Slot& slot = slots_[handedOn_ % slots_.size()];
    lock.unlock();
    // What a helper threw is thrown here, as if the frame had been worked on here.
    if (slot.failure) std::rethrow_exception(std::exchange(slot.failure, nullptr));
    failed_ = !inOrder_(handedOn_ % slots_.size(), slot.view, slot.previousPalette);
    lock.lock();
    slot.stage = Stage::Free;
    ++handedOn_;
    return !failed_;
}

// The oldest frame waiting for a thread, or Slots() when there is none.
std::size_t FramePipeline::WaitingSlot() const {
    for (std::size_t f = handedOn_; f < added_; ++f)
        if (slots_[f % slots_.size()].stage == Stage::Waiting) return f % slots_.size();
    return slots_.size();
}

void FramePipeline::WorkOn(std::size_t index, std::unique_lock<std::mutex>& lock) {
    Slot& slot = slots_[index];
    slot.stage = Stage::Working;
    lock.unlock();
    try {
        each_(index, slot.view);
    } catch (...) {
        slot.failure = std::current_exception();
    }
    lock.lock();
    slot.stage = Stage::Done;
    changed_.notify_all();
}

void FramePipeline::Help() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stop_ || WaitingSlot() < slots_.size(); });
        if (stop_) return;
        WorkOn(WaitingSlot(), lock);
    }
}

#endif

}  // namespace zambrel::encoder
