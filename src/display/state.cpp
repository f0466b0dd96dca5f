// SPDX-License-Identifier: MIT
// The one instance of the display layer's process-wide state.
#include "display/state.h"

#include <cstring>

DisplayProcessState& DisplayState() {
    static DisplayProcessState state{};
    return state;
}

void DisplayResetProcessState() {
    DisplayState() = DisplayProcessState{};
}

void FillBitmapInfoIndices() {
    auto* slots = reinterpret_cast<std::uint8_t*>(DisplayState().BitmapInfo.bmiColors);
    for (std::uint16_t i = 0; i < 256; ++i) std::memcpy(slots + 2 * i, &i, 2);
}

void SetBitmapInfoHeader(std::int32_t width, std::int32_t height) {
    BITMAPINFOHEADER& h = DisplayState().BitmapInfo.bmiHeader;
    std::memset(&h, 0, sizeof h);
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = 8;
    h.biCompression = BI_RGB;
}
