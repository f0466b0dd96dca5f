// SPDX-License-Identifier: MIT
// The optional platform components, loaded by name the first time a mode needs them.
#pragma once

#include "display/state.h"

// True when a library handle is a loaded library rather than "never tried" or "failed".
bool ComponentLoaded(HMODULE library);

// The DIB-section functions of the already loaded graphics module, looked up once.
void LoadGdiFunctions();
// WinG, looked up once, and loaded only when the DIB-section colour table is missing.
void LoadWinG();
// The DirectDraw library, loaded once.
void LoadDirectDraw();
// Whether the full-screen component is installed; asked afresh every time.
bool FullScreenComponentAvailable();
// The display-settings function, looked up once; null when there is none.
ChangeDisplaySettingsProc ChangeDisplaySettingsFunction();
