// SPDX-License-Identifier: MIT
// The player program also carries the blitter's operations for other programs that load it,
// so every one of them is referenced here to keep the linker from dropping it.
#pragma once

#include "zambrel/blit.h"

namespace {

// Volatile so the references survive optimisation; the executable exports what it links.
const void* volatile const kExportedBlitter[] = {
    reinterpret_cast<const void*>(&ZambBlitOpen),
    reinterpret_cast<const void*>(&ZambBlitClose),
    reinterpret_cast<const void*>(&ZambBlitSetPalette),
    reinterpret_cast<const void*>(&ZambBlitSetFlags),
    reinterpret_cast<const void*>(&ZambBlitString),
    reinterpret_cast<const void*>(&ZambBlit),
    reinterpret_cast<const void*>(&ZambBlitTrans),
    reinterpret_cast<const void*>(&ZambBlitMask),
    reinterpret_cast<const void*>(&ZambBlitMerge),
    reinterpret_cast<const void*>(&ZambBlitClear),
    reinterpret_cast<const void*>(&ZambBufferToBuffer),
    reinterpret_cast<const void*>(&ZambBufferToBufferTrans),
    reinterpret_cast<const void*>(&ZambBufferToBufferMask),
    reinterpret_cast<const void*>(&ZambBufferToBufferMerge),
};

// Called once from the program's entry so that the table itself is kept.
inline void KeepExportedBlitter() {
    (void)kExportedBlitter[0];
}

}  // namespace
