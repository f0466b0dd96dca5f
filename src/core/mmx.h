// SPDX-License-Identifier: MIT
// The process-wide answer to "may the vector paths run?", shared by the blitter and the
// video decoder's stream readers.
#pragma once

#include <atomic>
#include <cstdint>

// Bit set: 0x1 the processor has MMX, 0x2 the processor check has been made, 0x4 MMX use
// is forbidden. Atomic, as decoder handles on several threads may make the first check at
// once.
extern std::atomic<std::uint32_t> MmxState;
// The cached answer every vector-capable routine reads: 0 not yet known, 1 do not use the
// vector paths, 2 use them.
extern std::atomic<std::uint32_t> MmxUse;

// Runs the processor check once per process, then answers from MmxState: returns the new
// MmxUse.
std::uint32_t DetectMmx();
// 0 forbids the vector paths, 1 allows them again, 2 or more only asks; returns 1 when they
// are in use afterwards.
std::uint32_t ZambUseMmx(std::uint32_t request);

// Test seam: forgets the processor check and both answers, so that the next DetectMmx runs
// the check again; with `identificationFixed` the check meets a processor whose
// identification flag cannot be changed, as the oldest processors have. It stays in the
// product because that flag is read inside the check itself; the shared library does not
// export it.
void MmxTestReset(bool identificationFixed);

// The choice every vector-capable routine makes once per call: true for the vector path.
inline bool MmxPathChosen() {
    const std::uint32_t use = MmxUse.load(std::memory_order_relaxed);
    return (use == 0 ? DetectMmx() : use) == 2;
}
