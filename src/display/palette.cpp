// SPDX-License-Identifier: MIT
// The display's palettes: the window's logical palette, a movie palette kept clear of the
// static colours, the full-screen palette message and the system-palette option.
#include <cstring>

#include "display/modes.h"
#include "display/present.h"
#include "display/state.h"
#include "display/window.h"

namespace {

void ColorTableEntry(const Display* d, std::uint32_t i, PALETTEENTRY* entry, BYTE flags) {
    entry->peBlue = d->ColorTable[4 * i + 0];
    entry->peGreen = d->ColorTable[4 * i + 1];
    entry->peRed = d->ColorTable[4 * i + 2];
    entry->peFlags = flags;
}

void SetBitmapColors(Display* d) {
    if (d->Mode != DisplayDibSection || !d->MemoryDC) return;
    RGBQUAD colors[256];
    std::memcpy(colors, d->ColorTable, sizeof colors);
    const DisplayComponents& c = DisplayState().Components;
    if (c.SetDIBColorTable)
        c.SetDIBColorTable(d->MemoryDC, 0, d->PaletteEntries, colors);
    else if (c.WinGSetDIBColorTable)
        c.WinGSetDIBColorTable(d->MemoryDC, 0, d->PaletteEntries, colors);
}

// A movie colour equal to one of the high static colours would be matched to the static
// entry instead of its own slot when the palette is realised, so it is moved by one step.
void AvoidStaticColors(const Display* d, BYTE* red, BYTE green, BYTE blue) {
    for (std::uint32_t j = d->EndFree; j < 256; ++j) {
        const std::uint8_t* s = d->ColorTable + 4 * j;
        if (s[2] == *red && s[1] == green && s[0] == blue)
            *red = (*red & 3) == 3 ? static_cast<BYTE>(*red - 1) : static_cast<BYTE>(*red + 1);
    }
}

void TakeMovieColors(Display* d, const std::uint8_t* palette) {
    for (std::uint32_t i = d->FirstFree; i < d->EndFree; ++i) {
        BYTE red = palette[3 * i], green = palette[3 * i + 1], blue = palette[3 * i + 2];
        AvoidStaticColors(d, &red, green, blue);
        d->ColorTable[4 * i + 0] = blue;
        d->ColorTable[4 * i + 1] = green;
        d->ColorTable[4 * i + 2] = red;
        d->ColorTable[4 * i + 3] = 0;
    }
}

void SendFullScreenPalette(const Display* d) {
    DisplayBitmapInfoRecord& info = DisplayState().BitmapInfo;
    std::memcpy(info.bmiColors, d->ColorTable, sizeof info.bmiColors);
    std::uint32_t flags = d->Mode == DisplayFullScreen240 ? 0x8AC5 : 0x8AC1;
    SendFullScreenData(d->FullScreenWindow, flags, kFullScreenSetFormat, &info, sizeof info);
    FillBitmapInfoIndices();
}

}  // namespace

void CreateDisplayPalette(Display* d) {
    DisplayLogPalette logical{};
    logical.palVersion = 0x300;
    logical.palNumEntries = static_cast<WORD>(d->PaletteEntries);
    for (std::uint32_t i = 0; i < d->PaletteEntries && i < 256; ++i) {
        bool movieSlot = i >= d->FirstFree && i < d->EndFree;
        ColorTableEntry(d, i, &logical.palPalEntry[i], movieSlot ? PC_NOCOLLAPSE : 0);
    }
    d->PaletteHandle = CreatePalette(reinterpret_cast<const LOGPALETTE*>(&logical));
    SetBitmapColors(d);
}

void DisplaySetPalette(Display* d, const std::uint8_t* palette) {
    if (!d) return;
    d->HasContent = 1;
    if (d->PaletteEntries < 256 || !palette) return;
    TakeMovieColors(d, palette);
    if (d->FullScreen) {
        SendFullScreenPalette(d);
    } else {
        if (d->PaletteHandle) DeleteObject(d->PaletteHandle);
        d->PaletteHandle = nullptr;
        CreateDisplayPalette(d);
    }
    // On screens without a palette the pixels already drawn keep the old colours.
    if (d->ScreenColors > 256) d->PaletteChanged = 1;
    if (d->Blit) ZambBlitSetPalette(d->Blit, d->ColorTable, d->PaletteType);
}

void DisplayUseSystemPalette() {
    PALETTEENTRY entries[256]{};
    HDC dc = GetDC(nullptr);
    GetSystemPaletteEntries(dc, 0, 256, entries);
    ReleaseDC(nullptr, dc);
    std::uint8_t triplets[256 * 3];
    for (int i = 0; i < 256; ++i) {
        triplets[3 * i] = entries[i].peRed;
        triplets[3 * i + 1] = entries[i].peGreen;
        triplets[3 * i + 2] = entries[i].peBlue;
    }
    DisplaySetPalette(DisplayCurrent(), triplets);
}

std::uint32_t DisplayRealizePalette(Display* d) {
    if (!d || d->FullScreen) return 0;
    if (!d->PaletteHandle) CreateDisplayPalette(d);
    HDC dc = GetDC(d->Window);
    HPALETTE previous = SelectPalette(dc, d->PaletteHandle, FALSE);
    UINT realised = RealizePalette(dc);
    // Pixels drawn with the old mapping must be drawn again with the new one.
    if (d->HasContent) InvalidateRect(d->Window, nullptr, FALSE);
    SelectPalette(dc, previous, FALSE);
    ReleaseDC(d->Window, dc);
    return realised;
}
