// SPDX-License-Identifier: MIT
// Device contexts, GDI objects, logical palettes and their realisation into the system palette.
#include <algorithm>
#include <cstring>

#include "platform/standin/gui/desktop_state.h"

namespace standin::gui {

DeviceContext* FindDc(HDC dc) {
    Desktop& desktop = TheDesktop();
    auto it = desktop.dcs.find(Key(dc));
    return it == desktop.dcs.end() ? nullptr : &it->second;
}

Palette* FindPalette(HPALETTE palette) {
    Desktop& desktop = TheDesktop();
    auto it = desktop.palettes.find(Key(palette));
    return it == desktop.palettes.end() ? nullptr : &it->second;
}

Bitmap* FindBitmap(HBITMAP bitmap) {
    Desktop& desktop = TheDesktop();
    auto it = desktop.bitmaps.find(Key(bitmap));
    return it == desktop.bitmaps.end() ? nullptr : &it->second;
}

Palette& PaletteOf(const DeviceContext& dc) {
    Palette* palette = FindPalette(dc.palette);
    return palette ? *palette : *FindPalette(TheDesktop().defaultPalette);
}

bool IsStaticSlot(const Screen& screen, int slot) {
    if (screen.paletteUse == SYSPAL_NOSTATIC) return slot == 0 || slot == 255;
    return slot < 10 || slot >= 246;
}

namespace {

HDC NewDc(DeviceContext record) {
    Desktop& desktop = TheDesktop();
    HDC dc = MakeHandle<HDC>(desktop);
    record.palette = desktop.defaultPalette;
    desktop.dcs[Key(dc)] = record;
    return dc;
}

int MatchUsedSlot(const Screen& screen, const PALETTEENTRY& e) {
    for (int slot = 0; slot < 256; ++slot) {
        if (!IsStaticSlot(screen, slot) && !screen.slotClaimed[slot]) continue;
        const PALETTEENTRY& s = screen.systemPalette[slot];
        if (s.peRed == e.peRed && s.peGreen == e.peGreen && s.peBlue == e.peBlue) return slot;
    }
    return -1;
}

int ClaimFreeSlot(Screen& screen, const PALETTEENTRY& e, UINT* changed) {
    for (int slot = 0; slot < 256; ++slot) {
        if (IsStaticSlot(screen, slot) || screen.slotClaimed[slot]) continue;
        screen.slotClaimed[slot] = true;
        PALETTEENTRY& s = screen.systemPalette[slot];
        if (s.peRed != e.peRed || s.peGreen != e.peGreen || s.peBlue != e.peBlue) ++*changed;
        s = {e.peRed, e.peGreen, e.peBlue, 0};
        return slot;
    }
    return -1;
}

// Entries marked no-collapse get slots of their own; the others share an equal colour already
// in the system palette; what finds no free slot takes the nearest colour.
UINT MapPalette(Screen& screen, Palette& palette) {
    UINT changed = 0;
    palette.systemSlot.assign(palette.entries.size(), 0);
    for (std::size_t i = 0; i < palette.entries.size(); ++i) {
        const PALETTEENTRY& e = palette.entries[i];
        int slot = -1;
        if (e.peFlags & PC_EXPLICIT) slot = e.peRed;
        if (slot < 0 && !(e.peFlags & (PC_NOCOLLAPSE | PC_RESERVED)))
            slot = MatchUsedSlot(screen, e);
        if (slot < 0) slot = ClaimFreeSlot(screen, e, &changed);
        if (slot < 0) slot = NearestSystemSlot(screen, e.peRed, e.peGreen, e.peBlue);
        palette.systemSlot[i] = static_cast<std::uint8_t>(slot);
    }
    return changed;
}

void BroadcastPaletteChanged(HWND cause) {
    std::vector<HWND> windows = TheDesktop().zOrder;
    for (HWND window : windows)
        SendMessageA(window, WM_PALETTECHANGED, reinterpret_cast<WPARAM>(cause), 0);
}

bool IsForegroundDc(const DeviceContext& dc) {
    Desktop& desktop = TheDesktop();
    if (dc.paletteBackground || !dc.window) return false;
    return desktop.active && TopLevelOf(dc.window) == desktop.active;
}

}  // namespace
}  // namespace standin::gui

using namespace standin::gui;

HDC WINAPI GetDC(HWND window) {
    if (window && !FindWindowRecord(window)) return nullptr;
    DeviceContext record;
    record.kind = window ? DeviceContext::Kind::Window : DeviceContext::Kind::Screen;
    record.window = window;
    return NewDc(record);
}

int WINAPI ReleaseDC(HWND, HDC dc) {
    DeviceContext* record = FindDc(dc);
    if (!record || record->kind == DeviceContext::Kind::Memory) return 0;
    TheDesktop().dcs.erase(Key(dc));
    return 1;
}

HDC WINAPI CreateCompatibleDC(HDC) {
    DeviceContext record;
    record.kind = DeviceContext::Kind::Memory;
    record.bitmap = TheDesktop().stockBitmap;
    return NewDc(record);
}

BOOL WINAPI DeleteDC(HDC dc) {
    DeviceContext* record = FindDc(dc);
    if (!record) return FALSE;
    TheDesktop().dcs.erase(Key(dc));
    return TRUE;
}

HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object) {
    DeviceContext* record = FindDc(dc);
    if (!record || !object) return nullptr;
    if (FindBitmap(static_cast<HBITMAP>(object))) {
        if (record->kind != DeviceContext::Kind::Memory) return nullptr;
        HBITMAP previous = record->bitmap;
        record->bitmap = static_cast<HBITMAP>(object);
        return previous;
    }
    if (FindPalette(static_cast<HPALETTE>(object)))
        return SelectPalette(dc, static_cast<HPALETTE>(object), TRUE);
    return nullptr;
}

BOOL WINAPI DeleteObject(HGDIOBJ object) {
    Desktop& desktop = TheDesktop();
    ULONG_PTR key = Key(object);
    if (object == desktop.defaultPalette || object == desktop.stockBitmap) return TRUE;
    if (desktop.bitmaps.erase(key)) {
        for (auto& [handle, dc] : desktop.dcs)
            if (Key(dc.bitmap) == key) dc.bitmap = desktop.stockBitmap;
        return TRUE;
    }
    if (desktop.palettes.erase(key)) {
        for (auto& [handle, dc] : desktop.dcs)
            if (Key(dc.palette) == key) dc.palette = desktop.defaultPalette;
        if (Key(desktop.foregroundPalette) == key) desktop.foregroundPalette = nullptr;
        return TRUE;
    }
    return FALSE;
}

int WINAPI GetDeviceCaps(HDC dc, int index) {
    if (!FindDc(dc)) return 0;
    const Screen& screen = TheDesktop().screen;
    bool palettised = screen.format.bits == 8;
    switch (index) {
        case HORZRES:
            return screen.format.width;
        case VERTRES:
            return screen.format.height;
        case BITSPIXEL:
            return screen.format.bits;
        case PLANES:
            return 1;
        case NUMCOLORS:
            return palettised ? (screen.paletteUse == SYSPAL_NOSTATIC ? 2 : 20) : -1;
        case SIZEPALETTE:
            return palettised ? 256 : 0;
        case NUMRESERVED:
            return palettised ? 20 : 0;
        case RASTERCAPS:
            return palettised ? RC_PALETTE : 0;
        default:
            return 0;
    }
}

HPALETTE WINAPI CreatePalette(const LOGPALETTE* palette) {
    if (!palette || palette->palVersion != 0x300 || palette->palNumEntries == 0) return nullptr;
    Desktop& desktop = TheDesktop();
    HPALETTE handle = MakeHandle<HPALETTE>(desktop);
    Palette& record = desktop.palettes[Key(handle)];
    const PALETTEENTRY* entries = palette->palPalEntry;
    record.entries.assign(entries, entries + palette->palNumEntries);
    return handle;
}

HPALETTE WINAPI SelectPalette(HDC dc, HPALETTE palette, BOOL forceBackground) {
    DeviceContext* record = FindDc(dc);
    if (!record || !FindPalette(palette)) return nullptr;
    HPALETTE previous = record->palette;
    record->palette = palette;
    record->paletteBackground = forceBackground != FALSE;
    return previous;
}

UINT WINAPI RealizePalette(HDC dc) {
    DeviceContext* record = FindDc(dc);
    if (!record) return GDI_ERROR;
    Desktop& desktop = TheDesktop();
    Screen& screen = desktop.screen;
    Palette& palette = PaletteOf(*record);
    if (screen.format.bits != 8) return static_cast<UINT>(palette.entries.size());
    if (record->palette == desktop.defaultPalette) return 0;
    bool foreground = IsForegroundDc(*record);
    if (foreground && desktop.foregroundPalette == record->palette && !palette.systemSlot.empty())
        return 0;
    if (!foreground && !palette.systemSlot.empty()) return 0;
    if (foreground) {
        // The foreground palette has the first claim on every slot between the statics.
        screen.slotClaimed.fill(false);
        desktop.foregroundPalette = record->palette;
    }
    UINT changed = MapPalette(screen, palette);
    if (changed) {
        ScreenTouched(desktop);
        BroadcastPaletteChanged(record->window);
    }
    return changed;
}

UINT WINAPI GetSystemPaletteUse(HDC dc) {
    if (!FindDc(dc)) return SYSPAL_ERROR;
    return TheDesktop().screen.paletteUse;
}

UINT WINAPI SetSystemPaletteUse(HDC dc, UINT use) {
    Desktop& desktop = TheDesktop();
    if (!FindDc(dc) || desktop.screen.format.bits != 8) return SYSPAL_ERROR;
    if (use != SYSPAL_STATIC && use != SYSPAL_NOSTATIC) return SYSPAL_ERROR;
    UINT previous = desktop.screen.paletteUse;
    if (previous != use) {
        desktop.screen.paletteUse = use;
        ResetSystemPalette(desktop);
        desktop.foregroundPalette = nullptr;
        for (auto& [key, palette] : desktop.palettes) palette.systemSlot.clear();
        ScreenTouched(desktop);
    }
    return previous;
}

UINT WINAPI GetSystemPaletteEntries(HDC dc, UINT start, UINT count, LPPALETTEENTRY entries) {
    if (!FindDc(dc)) return 0;
    const Screen& screen = TheDesktop().screen;
    if (!entries) return screen.format.bits == 8 ? 256 : 0;
    UINT copied = 0;
    for (; copied < count && start + copied < 256; ++copied)
        entries[copied] = screen.systemPalette[start + copied];
    // Screens without a palette have no system palette to report; the statics stand in.
    return screen.format.bits == 8 ? copied : 0;
}
