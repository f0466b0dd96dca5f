// SPDX-License-Identifier: MIT
// The X server grab and the frame comparison.
#include "host_screen.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

// The shift that brings a visual's colour mask down to its lowest bit, and the mask's width.
void MaskShape(unsigned long mask, int* shift, int* bits) {
    *shift = 0;
    *bits = 0;
    if (!mask) return;
    while (!(mask & 1)) mask >>= 1, ++*shift;
    while (mask & 1) mask >>= 1, ++*bits;
}

std::uint32_t Channel(unsigned long pixel, unsigned long mask) {
    int shift, bits;
    MaskShape(mask, &shift, &bits);
    unsigned long value = (pixel & mask) >> shift;
    // Screens deeper or shallower than 8 bits a channel are brought to 8 bits.
    return bits >= 8 ? static_cast<std::uint32_t>(value >> (bits - 8))
                     : static_cast<std::uint32_t>((value * 255) / ((1ul << bits) - 1));
}

}  // namespace

bool GrabScreen(const std::string& display, int x, int y, std::uint32_t width, std::uint32_t height,
                ScreenPicture* picture, std::string* error) {
    Display* x11 = XOpenDisplay(display.c_str());
    if (!x11) return *error = "cannot open the X display " + display, false;
    Window root = DefaultRootWindow(x11);
    XWindowAttributes attributes;
    XGetWindowAttributes(x11, root, &attributes);
    bool inside = x >= 0 && y >= 0 && width > 0 && height > 0 &&
                  x + static_cast<long>(width) <= attributes.width &&
                  y + static_cast<long>(height) <= attributes.height;
    XImage* image =
        inside ? XGetImage(x11, root, x, y, width, height, AllPlanes, ZPixmap) : nullptr;
    if (!image) {
        XCloseDisplay(x11);
        return *error = inside ? "the X server gave no picture" : "the rectangle leaves the screen",
               false;
    }
    picture->width = width;
    picture->height = height;
    picture->pixels.resize(std::size_t{width} * height);
    for (std::uint32_t row = 0; row < height; ++row)
        for (std::uint32_t column = 0; column < width; ++column) {
            unsigned long pixel = XGetPixel(image, static_cast<int>(column), static_cast<int>(row));
            picture->pixels[std::size_t{row} * width + column] =
                Channel(pixel, image->red_mask) << 16 | Channel(pixel, image->green_mask) << 8 |
                Channel(pixel, image->blue_mask);
        }
    XDestroyImage(image);
    XCloseDisplay(x11);
    return true;
}

std::vector<DecodedFrame> SplitRawFrames(const std::vector<std::uint8_t>& raw, std::uint32_t width,
                                         std::uint32_t height) {
    std::vector<DecodedFrame> frames;
    std::size_t frameBytes = 768 + std::size_t{width} * height;
    for (std::size_t offset = 0; offset + frameBytes <= raw.size(); offset += frameBytes) {
        DecodedFrame frame;
        frame.palette.assign(raw.begin() + offset, raw.begin() + offset + 768);
        frame.pixels.assign(raw.begin() + offset + 768, raw.begin() + offset + frameBytes);
        frames.push_back(std::move(frame));
    }
    return frames;
}

std::uint64_t CountDifferences(const ScreenPicture& picture, const DecodedFrame& frame) {
    if (picture.pixels.size() != frame.pixels.size())
        return picture.pixels.size() + frame.pixels.size();
    std::uint64_t differences = 0;
    for (std::size_t i = 0; i < frame.pixels.size(); ++i) {
        const std::uint8_t* rgb = &frame.palette[std::size_t{frame.pixels[i]} * 3];
        std::uint32_t expected = std::uint32_t{rgb[0]} << 16 | std::uint32_t{rgb[1]} << 8 | rgb[2];
        differences += picture.pixels[i] != expected;
    }
    return differences;
}
