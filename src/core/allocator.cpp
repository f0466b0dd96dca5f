// SPDX-License-Identifier: MIT
// The library allocator: aligned blocks, and the injected failures tests ask for.
#include "core/allocator.h"

#include <atomic>
#include <new>

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

// The aligned forms of new and delete exist on every target, unlike aligned_alloc, and
// need no rounding of the size, which could wrap where size_t has 32 bits.
constexpr std::align_val_t kBlockAlignment{16};

void* ZambAllocate(std::uint32_t size) {
    if (size == 0 || size == 0xFFFFFFFFu || InjectedFailure()) return nullptr;
    return ::operator new(size, kBlockAlignment, std::nothrow);
}

void ZambFree(void* block) {
    ::operator delete(block, kBlockAlignment);
}

void ZambAllocatorFailAfter(int allowed) {
    allocationsBeforeFailure.store(allowed);
}
