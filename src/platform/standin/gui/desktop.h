// SPDX-License-Identifier: MIT
// The virtual desktop's few services that are not Windows calls: what the sound side asks of
// the windows, and the registration of the graphics components with library loading.
#pragma once

#include "platform/standin/kernel/types.h"

namespace standin {

// Whether the top-level window that owns `window` (itself, if it has no owner) is the active
// window, or owns it. Safe from any thread: the sound mixer asks it for its focus rules.
bool WindowTreeActive(HWND window);

// Puts DDRAW.DLL, WING32.DLL, DISPDIB.DLL, GDI32 and USER32 in the component table.
bool RegisterGraphicsComponents();
// Gives the sound side the desktop's answers to its questions about windows
// (kernel/window_questions.h).
bool AnswerSoundsWindowQuestions();

// Both run once, before main, in every program that includes the platform header. The
// modules the shared library is built from are compiled with ZAMBREL_NO_WINDOWS: they never
// reach a window, and so the library carries no window system. A module compiled with
// ZAMBREL_NO_COMPONENTS names the platform's types only and registers nothing.
#if !defined(ZAMBREL_NO_WINDOWS) && !defined(ZAMBREL_NO_COMPONENTS)
inline const bool graphicsComponentsRegistered = RegisterGraphicsComponents();
inline const bool soundsWindowQuestionsAnswered = AnswerSoundsWindowQuestions();
#endif

}  // namespace standin
