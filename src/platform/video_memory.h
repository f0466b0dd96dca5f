// SPDX-License-Identifier: MIT
// The adapter's memory behind a real-mode linear address, offered on both sides.
#pragma once

#include <cstdint>

#include "platform/win32.h"

#ifdef _WIN32
// Windows maps the adapter's memory at the linear address itself while the full-screen
// component holds the screen; the stand-in declares its own service of this name.
inline BYTE* ZambrelVideoMemory(DWORD linearAddress) {
    return reinterpret_cast<BYTE*>(static_cast<std::uintptr_t>(linearAddress));
}
#endif
