// SPDX-License-Identifier: MIT
// The multimedia millisecond clock.
#pragma once

#include "platform/standin/kernel/types.h"

// Milliseconds since an arbitrary start; monotonic, wraps at 2^32.
DWORD WINAPI timeGetTime();
