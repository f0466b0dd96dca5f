// SPDX-License-Identifier: MIT
// The library allocator: every allocation of the decoder and the blitter comes from here.
#pragma once

#include <cstdint>

// A 16-byte-aligned block of `size` bytes, or null. Sizes 0 and 0xFFFFFFFF are refused:
// the second is what a failed size computation leaves behind.
void* ZambAllocate(std::uint32_t size);
// Releases a block from ZambAllocate; null is ignored.
void ZambFree(void* block);

// Test seam: after `allowed` more successful allocations, every allocation fails until
// the seam is reset with a negative count. Lets tests reach each out-of-memory path. It
// stays in the product because the failure has to come from inside ZambAllocate, which
// every module's allocations pass through; the shared library does not export it.
void ZambAllocatorFailAfter(int allowed);
