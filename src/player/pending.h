// SPDX-License-Identifier: MIT
// The player's calls into the display and the sound driver that are not connected yet.
// Each is one small function, so that connecting it is a one-line change here.
#pragma once

#include <cstdint>

#include "platform/win32.h"

// Shows one message box; returns when it is closed.
void ShowMessageBox(HWND owner, const char* text, const char* caption, bool isError);
// The player's own window, or null while there is none.
HWND CurrentPlayerWindow();
// Keeps the stretch size for display creation.
void StoreDisplayStretch(std::int32_t width, std::int32_t height);
// Installs the DirectSound driver; false when the machine has none.
bool InstallDirectSound();
// What the display recorded when it was closed, for the playback summary: the screen's
// colour count and the description of the way it drew (never null).
std::uint32_t ClosedDisplayColors();
const char* ClosedDisplayDescription();
