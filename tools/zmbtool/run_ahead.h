// SPDX-License-Identifier: MIT
// Stages of a run in order, each earlier one on a thread of its own running a little ahead
// of the next, so that the cores share the work and the results are those of one thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <utility>

namespace zmbtool {

// The items `produce(i, item, error)` makes for i = 0, 1, ... up to `count`, taken in order
// with Next. Threaded, they are made on a thread of its own, at most a few ahead of the
// taker; otherwise each when it is taken. A producer that fails with no error has met the
// end of its input, which is no failure. Only the items cross threads.
template <typename Item>
class Ahead {
  public:
    using Produce = std::function<bool(std::size_t, Item&, std::string*)>;

    Ahead(std::size_t count, bool threaded, Produce produce)
        : count_(count), produce_(std::move(produce)) {
        if (threaded) thread_ = std::thread([this] { Run(); });
    }
    ~Ahead() {
        if (!thread_.joinable()) return;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
            changed_.notify_all();
        }
        thread_.join();
    }
    Ahead(const Ahead&) = delete;
    Ahead& operator=(const Ahead&) = delete;

    // The next item; false at the end (`error` left empty) or with the producer's error.
    bool Next(Item& item, std::string* error) {
        error->clear();
        if (!thread_.joinable()) return next_ < count_ && Make(next_++, item, error);
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return !ready_.empty() || produced_; });
        if (ready_.empty()) return *error = failure_, false;
        item = std::move(ready_.front());
        ready_.pop_front();
        changed_.notify_all();
        return true;
    }

  private:
    // A few items in hand, so that a stage kept waiting for the processor by other work
    // does not stall the next at once.
    static constexpr std::size_t kDepth = 4;

    // An exception may not leave a thread: running out of memory fails the run as it
    // would on one thread.
    bool Make(std::size_t i, Item& item, std::string* error) {
        try {
            return produce_(i, item, error);
        } catch (const std::bad_alloc&) {
            *error = "out of memory";
            return false;
        }
    }

    void Run() {
        for (std::size_t i = 0; i < count_; ++i) {
            Item item;
            std::string failure;
            const bool ok = Make(i, item, &failure);
            std::unique_lock<std::mutex> lock(mutex_);
            if (!ok) {
                failure_ = failure;
                break;
            }
            changed_.wait(lock, [&] { return stop_ || ready_.size() < kDepth; });
            if (stop_) break;
            ready_.push_back(std::move(item));
            changed_.notify_all();
        }
        const std::lock_guard<std::mutex> lock(mutex_);
        produced_ = true;
        changed_.notify_all();
    }

    const std::size_t count_;
    const Produce produce_;
    std::size_t next_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Item> ready_;
    bool produced_ = false, stop_ = false;
    std::string failure_;
    std::thread thread_;  // running Run when threaded
};

// Calls `consume(item, error)` on each item of an Ahead of `produce`, in order, on the
// caller's thread. Stops at the first failure of either and returns false with its error.
template <typename Item>
bool RunAhead(std::size_t count, bool threaded, typename Ahead<Item>::Produce produce,
              const std::function<bool(Item&, std::string*)>& consume, std::string* error) {
    Ahead<Item> ahead(count, threaded, std::move(produce));
    Item item;
    while (ahead.Next(item, error))
        if (!consume(item, error)) return false;
    return error->empty();
}

}  // namespace zmbtool
