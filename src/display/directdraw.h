// SPDX-License-Identifier: MIT
// Writing the picture straight into the screen through DirectDraw's primary surface.
#pragma once

#include <cstdint>

#include "display/display.h"

// Gives a DIB-section display a primary surface and a blitter for it; on any failure the
// display stays as it was and draws through GDI. `options` are DisplayCreate's option bits.
void SetUpDirectDraw(Display* display, HWND window, std::uint32_t options);
// Releases the surface, the DirectDraw object and the blitter; each may be absent.
void ReleaseDirectDraw(Display* display);
