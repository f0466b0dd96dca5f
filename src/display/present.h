// SPDX-License-Identifier: MIT
// Putting the decoded picture on the screen: binding a movie to the buffer, presenting
// rectangles in every mode, batching a frame's rectangles, and the palettes.
#pragma once

#include <cstdint>

#include "core/movie_names.h"
#include "display/display.h"
#include "platform/win32.h"

// A present's result when it drew the whole picture, so the frame needs no more rectangles.
inline constexpr std::uint32_t kPresentedWhole = 256;

// The decoder writes the movie's frames into the current display's buffer at (x, y).
void DisplayBindMovie(Movie* movie, std::uint32_t x, std::int32_t y);
// Presents a rectangle of the buffer; `dc` null uses a device context of the window.
std::uint32_t DisplayPresent(Display* display, HDC dc, std::int32_t destX, std::int32_t destY,
                             std::int32_t srcX, std::int32_t srcY, std::int32_t width,
                             std::int32_t height);
void DisplayBeginRects(Display* display);
std::uint32_t DisplayEndRects(Display* display);
// Presents the changed rectangles of the movie's last decoded frame.
void DisplayPresentChanges(Movie* movie);
void DisplayClearAndPresent(std::uint8_t colourIndex);
// The sound-only progress bar of the movie's played frames.
void DisplayShowProgress(const Movie* movie);

// 256 entries of red, green, blue.
void DisplaySetPalette(Display* display, const std::uint8_t* palette);
void DisplayUseSystemPalette();
std::uint32_t DisplayRealizePalette(Display* display);
// Creates the window's logical palette from ColorTable (and sets the bitmap's colours).
void CreateDisplayPalette(Display* display);
