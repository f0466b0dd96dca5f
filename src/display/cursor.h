// SPDX-License-Identifier: MIT
// The mouse cursor against direct screen writes: finding out whether it is drawn into screen
// memory, and hiding it while a rectangle under it is written.
#pragma once

#include "platform/win32.h"

// True when `cursor` is drawn by software into the surface's memory (and puts back a saved
// background when it moves). Remembered for the same cursor, surface address and depth.
bool DisplayProbeCursor(IDirectDrawSurface* primarySurface, HCURSOR cursor);
// Hides the cursor when it overlaps the screen rectangle; returns how often it was hidden.
int DisplayHideCursorOver(int x, int y, int width, int height);
// Undoes DisplayHideCursorOver's count.
void DisplayShowCursor(int count);
