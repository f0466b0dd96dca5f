// SPDX-License-Identifier: MIT
// Opening and closing blitter handles, taking palettes and changing modes.
#include "blit/handle.h"

#include <cstring>
#include <new>

#include "blit/sound_hook.h"
#include "core/allocator.h"
#include "core/mmx.h"
#include "core/palette_layout.h"

namespace {

constexpr std::uint32_t kFormatRgbNoLayout = 0x40000000;

bool NeedsColourTable(std::uint32_t flags) {
    return (flags & ZAMBBLIT_FORMAT_MASK) != 0;
}
bool NeedsSmoothTable(std::uint32_t flags) {
    return (flags & ZAMBBLIT_2X_SMOOTH) != 0;
}

// 0x40000000 alone says "16-bit" without saying which layout, so no conversion could fill
// the colour table; such flags are refused rather than blitting undefined pixels.
bool FormatIsKnown(std::uint32_t flags) {
    return (flags & ZAMBBLIT_FORMAT_MASK) != kFormatRgbNoLayout;
}

std::uint32_t BlockSize(std::uint32_t flags) {
    std::uint32_t size = sizeof(ZambBlitHandle);
    if (NeedsColourTable(flags)) size += kColourTableBytes;
    if (NeedsColourTable(flags) || NeedsSmoothTable(flags)) size += kPaletteBytes;
    if (NeedsSmoothTable(flags)) size += kSmoothTableBytes;
    return size;
}

// Places the tables after the record, in the block's fixed order.
void LayOutTables(ZambBlitHandle* handle, std::uint8_t* block) {
    std::uint8_t* next = block + sizeof(ZambBlitHandle);
    if (NeedsColourTable(handle->flags)) {
        handle->colourTable = reinterpret_cast<std::uint16_t*>(next);
        next += kColourTableBytes;
    }
    if (NeedsColourTable(handle->flags) || NeedsSmoothTable(handle->flags)) {
        handle->palette = next;
        next += kPaletteBytes;
    }
    if (NeedsSmoothTable(handle->flags)) handle->smoothTable = next;
}

void ConvertPalette(const std::uint8_t* source, std::uint32_t paletteType, std::uint8_t* rgb) {
    const PaletteLayout layout = PaletteLayoutOf(paletteType);
    for (int entry = 0; entry < 256; ++entry, source += layout.stride, rgb += 3) {
        rgb[0] = source[layout.red];
        rgb[1] = source[layout.green];
        rgb[2] = source[layout.blue];
    }
}

void BuildColourTable(ZambBlitHandle* handle) {
    const std::uint32_t format = handle->flags & ZAMBBLIT_FORMAT_MASK;
    const std::uint8_t* rgb = handle->palette;
    for (int index = 0; index < 256; ++index, rgb += 3) {
        if (format == ZAMBBLIT_RGB565)
            handle->colourTable[index] = PackRgb565(rgb[0], rgb[1], rgb[2]);
        if (format == ZAMBBLIT_RGB555)
            handle->colourTable[index] = PackRgb555(rgb[0], rgb[1], rgb[2]);
    }
}

bool SmoothTableStale(const ZambBlitHandle* handle) {
    if (handle->mode == kMode16 + kShapeSmooth && handle->smoothTableDepth == 8) return true;
    if (handle->mode == kShapeSmooth && handle->smoothTableDepth == 16) return true;
    return handle->smoothTableVersion != handle->paletteVersion;
}

void BuildSmoothTable(ZambBlitHandle* handle) {
    const std::uint32_t format = handle->flags & ZAMBBLIT_FORMAT_MASK;
    auto* table16 = static_cast<std::uint16_t*>(handle->smoothTable);
    // The 8-bit build takes milliseconds; the sound buffers must not run dry meanwhile.
    BlitServiceSound();
    if (format == ZAMBBLIT_RGB565) {
        BuildSmoothTable565(handle->palette, table16);
    } else if (format == ZAMBBLIT_RGB555) {
        BuildSmoothTable555(handle->palette, table16);
    } else {
        BuildSmoothTable8(handle->palette, static_cast<std::uint8_t*>(handle->smoothTable));
    }
    BlitServiceSound();
    handle->smoothTableVersion = handle->paletteVersion;
    handle->smoothTableDepth = handle->mode < kMode16 ? 8 : 16;
}

// Tables built for one 16-bit layout hold wrong pixels in the other; once a palette exists
// a change of layout makes them stale, so the update below rebuilds them.
void ForgetTablesOnLayoutChange(ZambBlitHandle* handle, std::uint32_t newFlags) {
    const bool layoutChanged = ((handle->flags ^ newFlags) & ZAMBBLIT_FORMAT_MASK) != 0;
    if (!layoutChanged || handle->paletteNeverSet) return;
    handle->colourTableVersion = handle->paletteVersion - 1;
    handle->smoothTableVersion = handle->paletteVersion - 1;
}

const char* const kModeText[10] = {
    "8-bit 1x", "8-bit 2x",  "8-bit 2x Interlaced", "8-bit 2x Smoothing",   nullptr,
    nullptr,    "16-bit 1x", "16-bit 2x",           "16-bit 2x Interlaced", "16-bit 2x Smoothing"};

bool ModeHasVectorPath(std::uint32_t mode) {
    const std::uint32_t shape = mode % kMode16;
    return shape == kShapeDouble || shape == kShapeInterlace;
}

}  // namespace

std::uint16_t PackRgb565(std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
    return static_cast<std::uint16_t>(((red >> 3) << 11) | ((green >> 2) << 5) | (blue >> 3));
}

std::uint16_t PackRgb555(std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
    return static_cast<std::uint16_t>(((red >> 3) << 10) | ((green >> 3) << 5) | (blue >> 3));
}

std::uint32_t ZambBlitModeFromFlags(std::uint32_t flags) {
    const std::uint32_t base = (flags & ZAMBBLIT_FORMAT_MASK) ? kMode16 : 0;
    if (flags & ZAMBBLIT_2X_SMOOTH) return base + kShapeSmooth;
    if (flags & ZAMBBLIT_2X_INTERLACE) return base + kShapeInterlace;
    if (flags & ZAMBBLIT_2X) return base + kShapeDouble;
    return base;
}

void ZambBlitUpdateTables(ZambBlitHandle* handle) {
    if (handle->mode >= kMode16 && handle->colourTableVersion != handle->paletteVersion) {
        BuildColourTable(handle);
        handle->colourTableVersion = handle->paletteVersion;
    }
    const std::uint32_t shape = handle->mode % kMode16;
    if (shape == kShapeSmooth && SmoothTableStale(handle)) BuildSmoothTable(handle);
}

extern "C" {

ZambBlitHandle* ZAMBBLIT_API ZambBlitOpen(std::uint32_t flags) {
    if (!FormatIsKnown(flags)) return nullptr;
    auto* block = static_cast<std::uint8_t*>(ZambAllocate(BlockSize(flags)));
    if (!block) return nullptr;
    auto* handle = new (block) ZambBlitHandle{};
    handle->flags = flags;
    LayOutTables(handle, block);
    handle->mode = ZambBlitModeFromFlags(flags);
    handle->paletteNeverSet = 1;
    return handle;
}

void ZAMBBLIT_API ZambBlitClose(ZambBlitHandle* handle) {
    if (!handle) return;
    handle->~ZambBlitHandle();
    ZambFree(handle);
}

std::uint32_t ZAMBBLIT_API ZambBlitSetPalette(ZambBlitHandle* handle, const void* palette,
                                              std::uint32_t paletteType) {
    if (!handle->palette) return 0;
    std::uint8_t candidate[kPaletteBytes];
    ConvertPalette(static_cast<const std::uint8_t*>(palette), paletteType, candidate);
    // Before the first palette the storage holds whatever the heap left there, so an equal
    // comparison then means nothing.
    if (!handle->paletteNeverSet && std::memcmp(candidate, handle->palette, kPaletteBytes) == 0)
        return 0;
    ++handle->paletteVersion;
    std::memcpy(handle->palette, candidate, kPaletteBytes);
    ZambBlitUpdateTables(handle);
    handle->paletteNeverSet = 0;
    return 1;
}

std::uint32_t ZAMBBLIT_API ZambBlitSetFlags(ZambBlitHandle* handle, std::uint32_t flags) {
    if (!FormatIsKnown(flags)) return 0;
    if (NeedsColourTable(flags) && !handle->colourTable) return 0;
    if (NeedsSmoothTable(flags) && !handle->smoothTable) return 0;
    ForgetTablesOnLayoutChange(handle, flags);
    handle->mode = ZambBlitModeFromFlags(flags);
    handle->flags = flags;
    ZambBlitUpdateTables(handle);
    return 1;
}

char* ZAMBBLIT_API ZambBlitString(ZambBlitHandle* handle, char* buffer) {
    std::strcpy(buffer, kModeText[handle->mode]);
    if (ModeHasVectorPath(handle->mode) && ZambUseMmx(2) == 1) std::strcat(buffer, " using MMX");
    return buffer;
}

}  // extern "C"
