// SPDX-License-Identifier: MIT
// Stages of a run in order, each earlier one on threads of its own running a little ahead
// of the next, so that the cores share the work and the results are those of one thread.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

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

// Items taken in order by `take(i, item, error)`, one at a time, then each finished by
// `finish(i, item)` on one of `workers` threads while others finish the next few, and handed
// out in order with Next. With no workers both run on the taker's thread when the item is
// asked for. As with Ahead, a `take` failing with no error has met the end of its input.
template <typename Item>
class Spread {
  public:
    using Take = std::function<bool(std::size_t, Item&, std::string*)>;
    using Finish = std::function<void(std::size_t, Item&)>;

    Spread(std::size_t count, unsigned workers, Take take, Finish finish)
        : count_(count),
          take_(std::move(take)),
          finish_(std::move(finish)),
          depth_(std::size_t{workers} + 2) {
        for (unsigned w = 0; w < workers; ++w) threads_.emplace_back([this] { Work(); });
    }
    ~Spread() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
            changed_.notify_all();
        }
        for (std::thread& thread : threads_) thread.join();
    }
    Spread(const Spread&) = delete;
    Spread& operator=(const Spread&) = delete;

    // The next item; false at the end (`error` left empty) or with the taker's error.
    bool Next(Item& item, std::string* error) {
        error->clear();
        if (threads_.empty()) {
            if (next_ >= count_ || !TakeOne(next_, item, error)) return false;
            finish_(next_++, item);
            return true;
        }
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return done_.count(next_) != 0 || next_ >= end_; });
        if (done_.count(next_) == 0) return *error = failure_, false;
        item = std::move(done_[next_]);
        done_.erase(next_++);
        changed_.notify_all();
        return true;
    }

  private:
    bool TakeOne(std::size_t i, Item& item, std::string* error) {
        try {
            return take_(i, item, error);
        } catch (const std::bad_alloc&) {
            *error = "out of memory";
            return false;
        }
    }

    // Items from `i` on are not to be had: the first such failure is the one reported.
    void Fail(std::size_t i, const std::string& failure) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (i >= end_) return;
        end_ = i;
        failure_ = failure;
        changed_.notify_all();
    }

    // Takes the next item in order (the taking itself one worker at a time, apart from the
    // lock Next waits on), finishes it, and leaves it for Next; no worker runs more than a
    // few items ahead of what Next has handed out, which keeps the memory bounded.
    void Work() {
        for (;;) {
            Item item;
            std::size_t i = 0;
            {
                const std::lock_guard<std::mutex> taking(takeMutex_);
                {
                    std::unique_lock<std::mutex> lock(mutex_);
                    changed_.wait(lock, [&] { return stop_ || taken_ < next_ + depth_; });
                    if (stop_ || taken_ >= end_) return;
                    i = taken_;
                }
                std::string failure;
                if (!TakeOne(i, item, &failure)) return Fail(i, failure);
                const std::lock_guard<std::mutex> lock(mutex_);
                ++taken_;
            }
            try {
                finish_(i, item);
            } catch (const std::bad_alloc&) {
                return Fail(i, "out of memory");
            }
            const std::lock_guard<std::mutex> lock(mutex_);
            done_.emplace(i, std::move(item));
            changed_.notify_all();
        }
    }

    const std::size_t count_;
    const Take take_;
    const Finish finish_;
    const std::size_t depth_;  // items taken that Next has not handed out, at most
    std::mutex takeMutex_;     // held while an item is taken, so items are taken in order
    std::mutex mutex_;         // guards what follows
    std::condition_variable changed_;
    std::size_t next_ = 0, taken_ = 0, end_ = count_;
    std::map<std::size_t, Item> done_;
    bool stop_ = false;
    std::string failure_;
    std::vector<std::thread> threads_;
};

}  // namespace zmbtool
