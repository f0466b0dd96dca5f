// SPDX-License-Identifier: MIT
// Copies into the screen: DIB sections, device-independent bitmaps, patterns and pixels, each
// clipped to what is visible of the window's client area.
#include <algorithm>
#include <array>
#include <cstring>

#include "platform/standin/gui/desktop_state.h"

namespace standin::gui {
namespace {

using ColorMap = std::array<std::uint32_t, 256>;

// Where a device context draws: the screen region it may touch and its origin there.
struct Target {
    std::vector<Rect> clip;
    int originX = 0, originY = 0;
    bool ok = false;
};

Target TargetOf(const DeviceContext& dc) {
    Target target;
    const Screen& screen = TheDesktop().screen;
    if (dc.kind == DeviceContext::Kind::Screen) {
        target.clip.push_back({0, 0, screen.format.width, screen.format.height});
        target.ok = true;
    } else if (dc.kind == DeviceContext::Kind::Window) {
        if (Window* w = FindWindowRecord(dc.window)) {
            Rect client = ClientRectOnScreen(*w);
            target.originX = client.left;
            target.originY = client.top;
            VisibleClientRegion(*w, &target.clip);
            target.ok = true;
        }
    }
    return target;
}

bool Visible(const Target& target, int x, int y) {
    return std::any_of(target.clip.begin(), target.clip.end(),
                       [&](const Rect& r) { return r.Contains(x, y); });
}

// The rows or columns [first, last) of a destination span that can land in the visible
// range [low, high) of the screen. The loops run over these alone, so a stretch to an
// enormous or far-off rectangle costs no more than one to the visible part; without this a
// copy to 100000 x 100000 pixels walks ten billion pixels to draw none of them.
struct Span {
    int first = 0, last = 0;
};

Span VisibleSpan(long long start, int length, int low, int high) {
    long long first = std::max<long long>(0, low - start);
    long long last = std::min<long long>(length, high - start);
    if (last <= first) return {};
    return {static_cast<int>(first), static_cast<int>(last)};
}

// The smallest rectangle around every visible part of the target.
Rect ClipBounds(const Target& target) {
    if (target.clip.empty()) return {};
    Rect bounds = target.clip.front();
    for (const Rect& r : target.clip) {
        bounds.left = std::min(bounds.left, r.left);
        bounds.top = std::min(bounds.top, r.top);
        bounds.right = std::max(bounds.right, r.right);
        bounds.bottom = std::max(bounds.bottom, r.bottom);
    }
    return bounds;
}

// An RGB colour as the destination shows it: through the realised logical palette of the
// device context on 8-bit screens, packed into the pixel format on deeper ones.
std::uint32_t ScreenValue(const DeviceContext& dc, BYTE r, BYTE g, BYTE b) {
    const Screen& screen = TheDesktop().screen;
    if (screen.format.bits != 8) return PackColor(screen, r, g, b);
    Palette& palette = PaletteOf(dc);
    for (std::size_t i = 0; i < palette.entries.size(); ++i) {
        const PALETTEENTRY& e = palette.entries[i];
        if (e.peRed == r && e.peGreen == g && e.peBlue == b && i < palette.systemSlot.size())
            return palette.systemSlot[i];
    }
    return static_cast<std::uint32_t>(NearestSystemSlot(screen, r, g, b));
}

ColorMap MapRgbTable(const DeviceContext& dc, const RGBQUAD* colors, std::size_t count) {
    ColorMap map{};
    for (std::size_t i = 0; i < 256; ++i) {
        RGBQUAD c = i < count ? colors[i] : RGBQUAD{0, 0, 0, 0};
        map[i] = ScreenValue(dc, c.rgbRed, c.rgbGreen, c.rgbBlue);
    }
    return map;
}

ColorMap MapPaletteIndices(const DeviceContext& dc, const WORD* indices, std::size_t count) {
    ColorMap map{};
    Palette& palette = PaletteOf(dc);
    const Screen& screen = TheDesktop().screen;
    for (std::size_t i = 0; i < 256; ++i) {
        std::size_t index = (i < count ? indices[i] : 0) % palette.entries.size();
        const PALETTEENTRY& e = palette.entries[index];
        if (screen.format.bits == 8 && index < palette.systemSlot.size())
            map[i] = palette.systemSlot[index];
        else
            map[i] = ScreenValue(dc, e.peRed, e.peGreen, e.peBlue);
    }
    return map;
}

// The source of a copy: 8-bit rows, the first being the picture's top row.
struct Source {
    const std::uint8_t* bits = nullptr;
    int width = 0, height = 0;
    long rowStep = 0;  // bytes from one picture row to the next below it (negative bottom-up)
    const std::uint8_t* Row(int y) const { return bits + rowStep * y; }
};

Source SourceOfBitmap(const Bitmap& bitmap) {
    Source source{bitmap.bits.data(), bitmap.width, bitmap.height, bitmap.pitch};
    if (!bitmap.topDown) {
        source.bits += static_cast<long>(bitmap.pitch) * (bitmap.height - 1);
        source.rowStep = -bitmap.pitch;
    }
    return source;
}

// The source column of each destination column in `columns`, or -1 where the stretch lands
// outside the picture; worked out once per copy rather than once per pixel.
std::vector<int> SourceColumns(const Span& columns, int width, const Source& source, int sourceX,
                               int sourceWidth) {
    std::vector<int> map(static_cast<std::size_t>(columns.last - columns.first));
    for (int column = columns.first; column < columns.last; ++column) {
        int sx = sourceX + static_cast<int>(static_cast<long long>(column) * sourceWidth / width);
        map[static_cast<std::size_t>(column - columns.first)] =
            sx < 0 || sx >= source.width ? -1 : sx;
    }
    return map;
}

// One row's run of screen pixels [first, last) in the screen's pixel size. Source columns
// only grow along a run, by steps that differ by at most one, and the ones outside the
// picture lie at its ends; so a run whose ends are inside and as far apart as its length
// reads the source one pixel after the other, as every copy at the picture's own size does.
// A run at the picture's own size: the copy of every frame a player shows. The colour map
// is the copy's own, never part of the screen, and saying so lets the compiler turn the loop
// into vector code (with a check at run time for a source that overlaps the screen).
template <typename Pixel>
void WriteStraightRun(std::uint8_t* to, const std::uint8_t* from, std::size_t count,
                      const std::uint32_t* __restrict map) {
    for (std::size_t i = 0; i < count; ++i) {
        const auto value = static_cast<Pixel>(map[from[i]]);
        std::memcpy(to + i * sizeof(Pixel), &value, sizeof(Pixel));
    }
}

template <typename Pixel>
void WriteRun(std::uint8_t* row, int first, int last, const std::uint8_t* line, const int* sx,
              const ColorMap& map) {
    const int count = last - first;
    if (sx[0] >= 0 && sx[count - 1] - sx[0] == count - 1) {
        WriteStraightRun<Pixel>(row + static_cast<std::size_t>(first) * sizeof(Pixel), line + sx[0],
                                static_cast<std::size_t>(count), map.data());
        return;
    }
    for (int x = first; x < last; ++x, ++sx) {
        if (*sx < 0) continue;
        const auto value = static_cast<Pixel>(map[line[*sx]]);
        std::memcpy(row + static_cast<std::size_t>(x) * sizeof(Pixel), &value, sizeof(Pixel));
    }
}

void WriteRun(Screen& screen, int y, int first, int last, const std::uint8_t* line, const int* sx,
              const ColorMap& map) {
    std::uint8_t* row = screen.pixels + static_cast<std::size_t>(y) * screen.pitch;
    switch (screen.format.bits) {
        case 8:
            return WriteRun<std::uint8_t>(row, first, last, line, sx, map);
        case 16:
            return WriteRun<std::uint16_t>(row, first, last, line, sx, map);
        default:
            return WriteRun<std::uint32_t>(row, first, last, line, sx, map);
    }
}

// Nearest-neighbour copy of the source rectangle onto the destination rectangle. Each
// visible piece of the target is filled row by row; the pieces do not overlap, and a pixel
// they shared would only be written twice with the same value.
void Copy(DeviceContext& dc, int x, int y, int width, int height, const Source& source, int sourceX,
          int sourceY, int sourceWidth, int sourceHeight, const ColorMap& map) {
    if (width <= 0 || height <= 0 || sourceWidth <= 0 || sourceHeight <= 0) return;
    Target target = TargetOf(dc);
    if (!target.ok) return;
    Desktop& desktop = TheDesktop();
    const Rect bounds = ClipBounds(target);
    const long long left = static_cast<long long>(target.originX) + x;
    const long long top = static_cast<long long>(target.originY) + y;
    const Span rows = VisibleSpan(top, height, bounds.top, bounds.bottom);
    const Span columns = VisibleSpan(left, width, bounds.left, bounds.right);
    const std::vector<int> sourceColumns =
        SourceColumns(columns, width, source, sourceX, sourceWidth);
    HideSoftwareCursor(desktop);
    for (const Rect& piece : target.clip) {
        const Span pieceRows = VisibleSpan(top, height, piece.top, piece.bottom);
        const Span pieceColumns = VisibleSpan(left, width, piece.left, piece.right);
        const int firstColumn = std::max(pieceColumns.first, columns.first);
        const int lastColumn = std::min(pieceColumns.last, columns.last);
        if (firstColumn >= lastColumn) continue;
        const int* sx = sourceColumns.data() + (firstColumn - columns.first);
        for (int row = std::max(pieceRows.first, rows.first);
             row < std::min(pieceRows.last, rows.last); ++row) {
            int sy =
                sourceY + static_cast<int>(static_cast<long long>(row) * sourceHeight / height);
            if (sy < 0 || sy >= source.height) continue;
            WriteRun(desktop.screen, static_cast<int>(top + row),
                     static_cast<int>(left + firstColumn), static_cast<int>(left + lastColumn),
                     source.Row(sy), sx, map);
        }
    }
    ScreenTouched(desktop);
    ShowSoftwareCursor(desktop);
}

bool CopyFromDc(HDC dest, int x, int y, int width, int height, HDC source, int sourceX, int sourceY,
                int sourceWidth, int sourceHeight, DWORD rop) {
    DeviceContext* to = FindDc(dest);
    if (!to) return false;
    if (rop == BLACKNESS || rop == WHITENESS) return PatBlt(dest, x, y, width, height, rop);
    DeviceContext* from = FindDc(source);
    if (!from || rop != SRCCOPY || from->kind != DeviceContext::Kind::Memory) return false;
    Bitmap* bitmap = FindBitmap(from->bitmap);
    if (!bitmap || to->kind == DeviceContext::Kind::Memory) return false;
    Copy(*to, x, y, width, height, SourceOfBitmap(*bitmap), sourceX, sourceY, sourceWidth,
         sourceHeight, MapRgbTable(*to, bitmap->colors.data(), bitmap->colors.size()));
    return true;
}

}  // namespace
}  // namespace standin::gui

using namespace standin::gui;

HBITMAP WINAPI CreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits, HANDLE,
                                DWORD) {
    DeviceContext* record = FindDc(dc);
    if (bits) *bits = nullptr;
    if (!record || !info) return nullptr;
    const BITMAPINFOHEADER& header = info->bmiHeader;
    if (header.biBitCount != 8 || header.biCompression != BI_RGB || header.biWidth <= 0 ||
        header.biHeight == 0 || header.biWidth > 16384 || header.biHeight > 16384 ||
        header.biHeight < -16384)
        return nullptr;
    Desktop& desktop = TheDesktop();
    HBITMAP handle = MakeHandle<HBITMAP>(desktop);
    Bitmap& bitmap = desktop.bitmaps[Key(handle)];
    bitmap.width = header.biWidth;
    bitmap.height = header.biHeight < 0 ? -header.biHeight : header.biHeight;
    bitmap.topDown = header.biHeight < 0;
    bitmap.pitch = (bitmap.width + 3) & ~3;
    bitmap.bits.assign(static_cast<std::size_t>(bitmap.pitch) * bitmap.height, 0);
    std::size_t count = header.biClrUsed ? std::min<DWORD>(header.biClrUsed, 256) : 256;
    if (usage == DIB_PAL_COLORS) {
        Palette& palette = PaletteOf(*record);
        WORD indices[256];
        std::memcpy(indices, info->bmiColors, count * sizeof(WORD));
        for (std::size_t i = 0; i < count; ++i) {
            const PALETTEENTRY& e = palette.entries[indices[i] % palette.entries.size()];
            bitmap.colors[i] = {e.peBlue, e.peGreen, e.peRed, 0};
        }
    } else {
        std::memcpy(bitmap.colors.data(), info->bmiColors, count * sizeof(RGBQUAD));
    }
    if (bits) *bits = bitmap.bits.data();
    return handle;
}

UINT WINAPI SetDIBColorTable(HDC dc, UINT start, UINT count, const RGBQUAD* colors) {
    DeviceContext* record = FindDc(dc);
    if (!record || !colors || record->kind != DeviceContext::Kind::Memory) return 0;
    Bitmap* bitmap = FindBitmap(record->bitmap);
    if (!bitmap || record->bitmap == TheDesktop().stockBitmap) return 0;
    UINT set = 0;
    for (; set < count && start + set < 256; ++set) bitmap->colors[start + set] = colors[set];
    return set;
}

BOOL WINAPI BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX,
                   int sourceY, DWORD rop) {
    return CopyFromDc(dest, x, y, width, height, source, sourceX, sourceY, width, height, rop)
               ? TRUE
               : FALSE;
}

BOOL WINAPI StretchBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX,
                       int sourceY, int sourceWidth, int sourceHeight, DWORD rop) {
    return CopyFromDc(dest, x, y, width, height, source, sourceX, sourceY, sourceWidth,
                      sourceHeight, rop)
               ? TRUE
               : FALSE;
}

int WINAPI SetStretchBltMode(HDC dc, int mode) {
    DeviceContext* record = FindDc(dc);
    if (!record || mode < BLACKONWHITE || mode > HALFTONE) return 0;
    int previous = record->stretchMode;
    record->stretchMode = mode;
    return previous;
}

// The source rectangle's y is counted from the picture's bottom row whatever the row order
// of the bitmap, which is what callers of top-down bitmaps rely on.
int WINAPI StretchDIBits(HDC dc, int x, int y, int width, int height, int sourceX, int sourceY,
                         int sourceWidth, int sourceHeight, const void* bits,
                         const BITMAPINFO* info, UINT usage, DWORD rop) {
    DeviceContext* record = FindDc(dc);
    if (!record || !bits || !info || rop != SRCCOPY) return 0;
    const BITMAPINFOHEADER& header = info->bmiHeader;
    if (header.biBitCount != 8 || header.biCompression != BI_RGB || header.biWidth <= 0 ||
        header.biHeight == 0)
        return 0;
    int pictureHeight = header.biHeight < 0 ? -header.biHeight : header.biHeight;
    long pitch = (header.biWidth + 3) & ~3;
    Source source{static_cast<const std::uint8_t*>(bits), header.biWidth, pictureHeight, pitch};
    if (header.biHeight > 0) {
        source.bits += pitch * (pictureHeight - 1);
        source.rowStep = -pitch;
    }
    std::size_t count = header.biClrUsed ? std::min<DWORD>(header.biClrUsed, 256) : 256;
    ColorMap map;
    if (usage == DIB_PAL_COLORS) {
        WORD indices[256];
        std::memcpy(indices, info->bmiColors, count * sizeof(WORD));
        map = MapPaletteIndices(*record, indices, count);
    } else {
        RGBQUAD colors[256];
        std::memcpy(colors, info->bmiColors, count * sizeof(RGBQUAD));
        map = MapRgbTable(*record, colors, count);
    }
    int top = pictureHeight - sourceY - sourceHeight;
    Copy(*record, x, y, width, height, source, sourceX, top, sourceWidth, sourceHeight, map);
    return sourceHeight;
}

BOOL WINAPI PatBlt(HDC dc, int x, int y, int width, int height, DWORD rop) {
    DeviceContext* record = FindDc(dc);
    if (!record || (rop != BLACKNESS && rop != WHITENESS) ||
        record->kind == DeviceContext::Kind::Memory)
        return FALSE;
    Target target = TargetOf(*record);
    Desktop& desktop = TheDesktop();
    BYTE level = rop == BLACKNESS ? 0 : 255;
    std::uint32_t value = desktop.screen.format.bits == 8
                              ? (level ? 255u : 0u)
                              : PackColor(desktop.screen, level, level, level);
    const Rect bounds = ClipBounds(target);
    const long long left = static_cast<long long>(target.originX) + x;
    const long long top = static_cast<long long>(target.originY) + y;
    const Span rows = VisibleSpan(top, height, bounds.top, bounds.bottom);
    const Span columns = VisibleSpan(left, width, bounds.left, bounds.right);
    HideSoftwareCursor(desktop);
    for (int row = rows.first; row < rows.last; ++row)
        for (int column = columns.first; column < columns.last; ++column) {
            int sx = static_cast<int>(left + column), sy = static_cast<int>(top + row);
            if (Visible(target, sx, sy)) WritePixel(desktop.screen, sx, sy, value);
        }
    ScreenTouched(desktop);
    ShowSoftwareCursor(desktop);
    return TRUE;
}

COLORREF WINAPI GetPixel(HDC dc, int x, int y) {
    DeviceContext* record = FindDc(dc);
    if (!record) return CLR_INVALID;
    Desktop& desktop = TheDesktop();
    if (record->kind == DeviceContext::Kind::Memory) {
        Bitmap* bitmap = FindBitmap(record->bitmap);
        if (!bitmap || x < 0 || y < 0 || x >= bitmap->width || y >= bitmap->height)
            return CLR_INVALID;
        const RGBQUAD& c = bitmap->colors[SourceOfBitmap(*bitmap).Row(y)[x]];
        return RGB(c.rgbRed, c.rgbGreen, c.rgbBlue);
    }
    Target target = TargetOf(*record);
    int sx = target.originX + x, sy = target.originY + y;
    if (!Visible(target, sx, sy)) return CLR_INVALID;
    // Reading the screen excludes the cursor, as the display driver does.
    bool drawn = desktop.cursorDrawn;
    HideSoftwareCursor(desktop);
    COLORREF color = UnpackColor(desktop.screen, ReadPixel(desktop.screen, sx, sy));
    if (drawn) ShowSoftwareCursor(desktop);
    return color;
}

COLORREF WINAPI SetPixel(HDC dc, int x, int y, COLORREF color) {
    DeviceContext* record = FindDc(dc);
    if (!record || record->kind == DeviceContext::Kind::Memory) return CLR_INVALID;
    Target target = TargetOf(*record);
    int sx = target.originX + x, sy = target.originY + y;
    if (!Visible(target, sx, sy)) return CLR_INVALID;
    Desktop& desktop = TheDesktop();
    std::uint32_t value =
        ScreenValue(*record, GetRValue(color), GetGValue(color), GetBValue(color));
    bool drawn = desktop.cursorDrawn;
    HideSoftwareCursor(desktop);
    WritePixel(desktop.screen, sx, sy, value);
    ScreenTouched(desktop);
    if (drawn) ShowSoftwareCursor(desktop);
    return UnpackColor(desktop.screen, value);
}
