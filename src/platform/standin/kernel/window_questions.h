// SPDX-License-Identifier: MIT
// What the sound side asks of the windows: whether a window exists, and whether its tree is
// the active one (a sound buffer without global focus is heard only then). The virtual
// desktop answers when the program links it; a program without it, such as the shared
// library, has no windows, and every answer is no. So the sound side never includes the
// window system, and the library carries none.
#pragma once

#include "platform/standin/kernel/types.h"

namespace standin {

struct WindowQuestions {
    bool (*Exists)(HWND window) = nullptr;
    bool (*TreeActive)(HWND window) = nullptr;  // the window's top-level owner is active
};

// Installs the answers; before main, by the desktop. Either member may be null.
void AnswerWindowQuestions(const WindowQuestions& answers);

// Safe from any thread, the mixer's among them.
bool WindowExists(HWND window);
bool WindowTreeIsActive(HWND window);

}  // namespace standin
