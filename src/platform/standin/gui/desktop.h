// SPDX-License-Identifier: MIT
// The virtual desktop's one service that is not a Windows call: what the sound mixer asks of
// the windows.
#pragma once

#include "platform/standin/kernel/types.h"

namespace standin {

// Whether the top-level window that owns `window` (itself, if it has no owner) is the active
// window, or owns it. Safe from any thread: the sound mixer asks it for its focus rules.
bool WindowTreeActive(HWND window);

}  // namespace standin
