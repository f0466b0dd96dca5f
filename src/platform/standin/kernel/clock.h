// SPDX-License-Identifier: MIT
// The multimedia millisecond clock.
#pragma once

#include "platform/standin/kernel/types.h"

// Milliseconds since an arbitrary start; monotonic, wraps at 2^32.
DWORD WINAPI timeGetTime();
// Asks for Sleep to wake within `period` milliseconds of its time rather than on the
// coarser default tick, until the matching timeEndPeriod. 0 on success, 97 for a period
// that cannot be had (0) or an end without its begin.
UINT WINAPI timeBeginPeriod(UINT period);
UINT WINAPI timeEndPeriod(UINT period);
