// SPDX-License-Identifier: MIT
// Choosing a display mode and building its drawing surface; the optional components, the
// screen resolution and the mode's name for the playback summary.
#pragma once

#include <cstddef>
#include <cstdint>

#include "display/display.h"
#include "display/display_flags.h"
#include "platform/win32.h"

// Option bits of DisplayCreate's flags, above the requested mode in the low bits.
inline constexpr std::uint32_t kCreateNoDirectDraw = 0x80;
inline constexpr std::uint32_t kCreateSmoothing = 0x100;
inline constexpr std::uint32_t kCreateInterlacing = 0x200;
inline constexpr std::uint32_t kCreateOptionMask = 0x380;

// The messages of the full-screen component, and the draw message's identifier.
inline constexpr UINT kFullScreenSetFormat = 0x400;
inline constexpr UINT kFullScreenDraw = 0x401;
inline constexpr UINT kFullScreenClose = 0x402;
inline constexpr std::uint32_t kFullScreenDrawFlags = 0x0A50;

// The adapter memory of the direct full-screen mode: 320x200 bytes.
inline constexpr std::uint32_t kVideoMemoryBytes = 64000;

// Null when no mode can be built. `flags`: requested mode (0 automatic) and option bits;
// an output size of 0 means the movie's own.
Display* DisplayCreate(HWND window, std::uint32_t flags, std::uint32_t width, std::uint32_t height,
                       std::uint32_t outWidth, std::uint32_t outHeight);
void DisplayDestroy(Display* display);
void DisplayClear(Display* display, std::uint8_t colourIndex);
// Writes the mode's name into text (kDisplayDescribeCapacity bytes) and returns text.
inline constexpr std::size_t kDisplayDescribeCapacity = 128;
char* DisplayDescribe(const Display* display, char* text);
// 0 restores the registry's mode, 1 to 4 switch to 640x400, 640x480, 800x600, 1024x768.
std::uint32_t DisplaySetResolution(std::int32_t code);
void DisplayFreeComponents();
// The player's display flags as DisplayCreate's flags.
std::uint32_t DisplayCreateFlags(std::uint32_t displayFlags);

// The full-screen component's set-format and draw messages, sent as copied data.
void SendFullScreenData(HWND fullScreenWindow, std::uint32_t flags, UINT message, const void* data,
                        std::uint32_t size);
// Sends the whole buffer to the full-screen window.
void SendFullScreenPicture(const Display* display);
