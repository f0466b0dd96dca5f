// SPDX-License-Identifier: MIT
// The blitter operations as the native build links them: the reference the calls through
// the Windows program's export table are compared with. Native programs only.
#pragma once

#include "blit_calls.h"

inline BlitFunctions LinkedBlitFunctions() {
    return {
        &ZambBlitOpen,           &ZambBlitClose,
        &ZambBlitSetPalette,     &ZambBlitSetFlags,
        &ZambBlitString,         &ZambBlit,
        &ZambBlitTrans,          &ZambBlitMask,
        &ZambBlitMerge,          &ZambBlitClear,
        &ZambBufferToBuffer,     &ZambBufferToBufferTrans,
        &ZambBufferToBufferMask, &ZambBufferToBufferMerge,
    };
}
