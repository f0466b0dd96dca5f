// SPDX-License-Identifier: MIT
// Reading pictures back from an X server, and finding which decoded frame they show.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Width x height pixels as 0xRRGGBB, top row first.
struct ScreenPicture {
    std::uint32_t width = 0, height = 0;
    std::vector<std::uint32_t> pixels;
};

// The rectangle of the root window of `display`; false when the server cannot be reached
// or the rectangle lies outside the screen.
bool GrabScreen(const std::string& display, int x, int y, std::uint32_t width, std::uint32_t height,
                ScreenPicture* picture, std::string* error);

// One frame of a decoded movie: its palette (red, green, blue per entry) and its indices.
struct DecodedFrame {
    std::vector<std::uint8_t> palette;
    std::vector<std::uint8_t> pixels;
};

// The frames of a raw decode (palette then Width x Height indices per frame).
std::vector<DecodedFrame> SplitRawFrames(const std::vector<std::uint8_t>& raw, std::uint32_t width,
                                         std::uint32_t height);

// How many pixels of the picture differ from the frame shown through its palette.
std::uint64_t CountDifferences(const ScreenPicture& picture, const DecodedFrame& frame);
