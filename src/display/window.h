// SPDX-License-Identifier: MIT
// The player's window: its class, styles and placement, its window procedure, the message
// pump and the key queue, focus, the full-screen subclass procedures and the close.
#pragma once

#include <cstddef>
#include <cstdint>

#include "display/display.h"
#include "platform/win32.h"

// The message between the full-screen window and the player window.
inline constexpr UINT kFullScreenActivation = 0x5A78;

// What the player tells the display before the first DisplayOpen.
void DisplaySetInstance(HINSTANCE instance);  // default: the process module
void DisplaySetOwner(HWND owner);             // the controller window, or null
void DisplaySetTitle(const char* text);
void DisplaySetStretch(std::int32_t width, std::int32_t height);

// "QTXDW" and four letters 'A' + each hexadecimal digit of the instance's low 16 bits.
void DisplayClassName(HINSTANCE instance, char name[10]);

// Opens the display for a movie (creating the window on first use); false on failure.
bool DisplayOpen(std::uint32_t width, std::uint32_t height, std::int32_t x, std::int32_t y,
                 std::uint32_t displayFlags);
void DisplayClose();
void DisplayPlaceWindow(std::int32_t x, std::int32_t y, std::uint32_t outWidth,
                        std::uint32_t outHeight);

void DisplayPumpMessages();
bool DisplayKeyAvailable();
std::uint8_t DisplayTakeKey();
bool DisplayHasFocus(const Display* display);

// The display the player window shows, and the player window; null when there is none.
Display* DisplayCurrent();
HWND DisplayWindow();
// What DisplayClose kept for the playback summary.
const char* DisplayClosedDescription();
std::uint32_t DisplayClosedColors();

// Installed when a full-screen display is created: the player window's restore command and
// the full-screen window's activation are handled for the current full-screen display.
void InstallFullScreenSubclasses(Display* display);

// The player window's procedure.
LRESULT CALLBACK DisplayWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
