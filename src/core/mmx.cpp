// SPDX-License-Identifier: MIT
// The processor check behind the vector paths.
#include "core/mmx.h"

std::atomic<std::uint32_t> MmxState{0};
std::atomic<std::uint32_t> MmxUse{0};

namespace {

constexpr std::uint32_t kMmxPresent = 0x1;
constexpr std::uint32_t kMmxTested = 0x2;
constexpr std::uint32_t kMmxForbidden = 0x4;

// Set by the test seam: the identification flag behaves as if it could not be changed.
bool identificationFlagFixed = false;

#if defined(__x86_64__) || defined(__i386__)
#if defined(__x86_64__)
using FlagsWord = unsigned long long;
#else
using FlagsWord = unsigned long;
#endif

// Whether a bit of the flags register can be flipped; the register is restored after.
bool FlagBitChangeable(FlagsWord bit) {
    FlagsWord original = 0;
    FlagsWord changed = 0;
    __asm__ volatile(
        "pushf\n\t"
        "pop %0\n\t"
        "mov %0, %1\n\t"
        "xor %2, %1\n\t"
        "push %1\n\t"
        "popf\n\t"
        "pushf\n\t"
        "pop %1\n\t"
        "push %0\n\t"
        "popf\n\t"
        : "=&r"(original), "=&r"(changed)
        : "r"(bit)
        : "cc", "memory");
    return ((original ^ changed) & bit) != 0;
}

bool ProcessorReportsMmx() {
    constexpr FlagsWord kAlignmentCheck = 1ul << 18;
    constexpr FlagsWord kIdentification = 1ul << 21;
    if (!FlagBitChangeable(kAlignmentCheck)) return false;
    if (identificationFlagFixed || !FlagBitChangeable(kIdentification)) return false;
    std::uint32_t eax = 1, ebx = 0, ecx = 0, edx = 0;
    __asm__ volatile("cpuid" : "+a"(eax), "=b"(ebx), "+c"(ecx), "=d"(edx));
    return (edx & (1u << 23)) != 0;
}
#else
// Other processors have no MMX; their vector paths stay unused.
bool ProcessorReportsMmx() {
    return false;
}
#endif

}  // namespace

std::uint32_t DetectMmx() {
    if (!(MmxState & kMmxTested)) {
        MmxState |= kMmxTested;
        if (ProcessorReportsMmx()) MmxState |= kMmxPresent;
    }
    const std::uint32_t use = MmxState == (kMmxPresent | kMmxTested) ? 2 : 1;
    MmxUse = use;
    return use;
}

std::uint32_t ZambUseMmx(std::uint32_t request) {
    if (request == 0) MmxState |= kMmxForbidden;
    if (request == 1) MmxState &= ~kMmxForbidden;
    return DetectMmx() == 2 ? 1 : 0;
}

void MmxTestReset(bool identificationFixed) {
    identificationFlagFixed = identificationFixed;
    MmxState = 0;
    MmxUse = 0;
}
