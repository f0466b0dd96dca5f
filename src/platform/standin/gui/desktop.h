// SPDX-License-Identifier: MIT
// The virtual desktop's few services that are not Windows calls: what the sound side asks of
// the windows, and the registration of the graphics components with library loading.
#pragma once

#include "platform/standin/kernel/types.h"

namespace standin {

// Whether the top-level window that owns `window` (itself, if it has no owner) is the active
// window, or owns it. Safe from any thread: the sound mixer asks it for its focus rules.
bool WindowTreeActive(HWND window);

// Puts DDRAW.DLL, WING32.DLL, DISPDIB.DLL, GDI32 and USER32 in the component table. Runs
// once, before main, in every program that includes the platform header.
bool RegisterGraphicsComponents();
inline const bool graphicsComponentsRegistered = RegisterGraphicsComponents();

}  // namespace standin
