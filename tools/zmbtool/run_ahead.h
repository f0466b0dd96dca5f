// SPDX-License-Identifier: MIT
// Two stages of a run in order, the first on a thread of its own running a little ahead of
// the second, so that two cores share the work and the results are those of one thread.
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

// Calls `produce(i, item, error)` for i = 0, 1, ... up to `count` and `consume(item, error)`
// on each item in the same order, on the caller's thread. Threaded, the producer runs on a
// thread of its own, at most a few items ahead. Stops at the first failure of either and
// returns false with its error; a producer that fails with no error has met the end of its
// input, which is no failure. Each stage's state is its own: only the items cross threads.
template <typename Item>
bool RunAhead(std::size_t count, bool threaded,
              const std::function<bool(std::size_t, Item&, std::string*)>& produce,
              const std::function<bool(Item&, std::string*)>& consume, std::string* error) {
    if (!threaded) {
        for (std::size_t i = 0; i < count; ++i) {
            Item item;
            if (!produce(i, item, error)) return error->empty();
            if (!consume(item, error)) return false;
        }
        return true;
    }
    // A few items in hand, so that a stage kept waiting for the processor by other work
    // does not stall the other at once.
    constexpr std::size_t kDepth = 4;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Item> ready;
    bool produced = false, stop = false;
    std::string producerError;
    std::thread producer([&] {
        for (std::size_t i = 0; i < count; ++i) {
            Item item;
            std::string failure;
            bool ok = false;
            // An exception may not leave a thread: running out of memory fails the run as it
            // would on one thread.
            try {
                ok = produce(i, item, &failure);
            } catch (const std::bad_alloc&) {
                failure = "out of memory";
            }
            std::unique_lock<std::mutex> lock(mutex);
            if (!ok) {
                producerError = failure;
                break;
            }
            changed.wait(lock, [&] { return stop || ready.size() < kDepth; });
            if (stop) break;
            ready.push_back(std::move(item));
            changed.notify_all();
        }
        const std::lock_guard<std::mutex> lock(mutex);
        produced = true;
        changed.notify_all();
    });
    bool ok = true;
    for (;;) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return !ready.empty() || produced; });
        if (ready.empty()) break;
        Item item = std::move(ready.front());
        ready.pop_front();
        changed.notify_all();
        lock.unlock();
        if (!consume(item, error)) {
            ok = false;
            break;
        }
    }
    {
        const std::lock_guard<std::mutex> lock(mutex);
        stop = true;
        changed.notify_all();
    }
    producer.join();
    if (ok && !producerError.empty()) *error = producerError, ok = false;
    return ok;
}

}  // namespace zmbtool
