// SPDX-License-Identifier: MIT
// Parts of a job shared out over threads that each take the next part not yet taken.
#include "encoder/parts.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace zambrel::encoder {

unsigned UsableThreads(unsigned threads) {
    return ZAMBREL_ENCODER_THREADS ? std::max(threads, 1u) : 1u;
}

void ForEachPart(unsigned threads, std::size_t parts,
                 const std::function<void(std::size_t)>& work) {
    const std::size_t helpers = std::min<std::size_t>(UsableThreads(threads), parts);
    if (helpers <= 1) {
        for (std::size_t part = 0; part < parts; ++part) work(part);
        return;
    }
#if ZAMBREL_ENCODER_THREADS
    // Parts are taken as threads come free rather than dealt out in advance, so a thread
    // held up by other work on a busy machine holds up no more than the part it has.
    std::atomic<std::size_t> next{0};
    std::exception_ptr failure;
    std::mutex failureLock;
    const auto take = [&] {
        try {
            for (std::size_t part; (part = next.fetch_add(1)) < parts;) work(part);
        } catch (...) {
            // An exception may not leave a thread: the first is thrown again on the
            // caller's, once every thread is done, as if the parts had run there.
            const std::lock_guard<std::mutex> lock(failureLock);
            if (!failure) failure = std::current_exception();
            next = parts;
        }
    };
    std::vector<std::thread> others;
    others.reserve(helpers - 1);
    // A thread the system will not start leaves its parts to the others.
    try {
        for (std::size_t t = 1; t < helpers; ++t) others.emplace_back(take);
    } catch (const std::system_error&) {
    }
    take();
    for (std::thread& thread : others) thread.join();
    if (failure) std::rethrow_exception(failure);
#endif
}

}  // namespace zambrel::encoder
