// SPDX-License-Identifier: MIT
// Work split into parts that share nothing, done on several threads at once. Each part
// writes only its own results, so what comes out is the same for any number of threads.
#pragma once

#include <cstddef>
#include <functional>

// The Windows build's compilers (mingw-w64's win32 thread model) have no std::thread: there
// all work runs on the caller's thread, in order, as with one thread, and the movie's bytes
// are the same.
#if defined(__GLIBCXX__) && !defined(_GLIBCXX_HAS_GTHREADS)
#define ZAMBREL_ENCODER_THREADS 0
#else
#define ZAMBREL_ENCODER_THREADS 1
#endif

namespace zambrel::encoder {

// How many of `threads` threads this build can work on: one where the compiler gives no
// threads, so that the work runs on the caller's thread alone.
unsigned UsableThreads(unsigned threads);

// Calls `work(part)` for every part from 0 to `parts` - 1, on `threads` threads at most
// (the caller's among them), and returns once all are done. One thread, or one part, runs
// them in order on the caller's thread alone.
void ForEachPart(unsigned threads, std::size_t parts, const std::function<void(std::size_t)>& work);

}  // namespace zambrel::encoder
