// SPDX-License-Identifier: MIT
#include "decoder/allocator.h"

#include <atomic>
#include <cstdlib>

namespace {
std::atomic<int> allocationsBeforeFailure{-1};

bool InjectedFailure() {
    int left = allocationsBeforeFailure.load();
    while (left >= 0) {
        if (left == 0) return true;
        if (allocationsBeforeFailure.compare_exchange_weak(left, left - 1)) return false;
    }
    return false;
}
}  // namespace

void* ZambAllocate(std::uint32_t size) {
    if (size == 0 || size == 0xFFFFFFFFu || InjectedFailure()) return nullptr;
    // aligned_alloc wants a multiple of the alignment; the 64-bit sum cannot overflow.
    std::size_t rounded = (static_cast<std::size_t>(size) + 15) & ~static_cast<std::size_t>(15);
    return std::aligned_alloc(16, rounded);
}

void ZambFree(void* block) { std::free(block); }

void ZambAllocatorFailAfter(int allowed) { allocationsBeforeFailure.store(allowed); }
