// SPDX-License-Identifier: MIT
// The blitter handle: its record, its tables and the rules that keep them current.
#pragma once

#include <cstdint>

#include "zambrel/blit.h"

// One heap block holds the record and, after it, the tables the open flags need, in this
// order: colour table, palette, smoothing area. The pointers never change afterwards.
struct alignas(16) ZambBlitHandle {
    std::uint32_t flags;
    std::uint8_t* palette;       // 256 x red, green, blue; null on a plain 8-bit handle
    void* smoothTable;           // 65,536 bytes (8-bit) or u16 (16-bit) blends of index pairs
    std::uint16_t* colourTable;  // 256 destination pixels, 16-bit formats only
    std::uint32_t mode;
    std::uint32_t paletteVersion;
    std::uint32_t colourTableVersion;
    std::uint32_t smoothTableVersion;
    std::uint32_t smoothTableDepth;  // 8 or 16 for the last build, 0 before the first
    std::uint32_t paletteNeverSet;
};

constexpr std::uint32_t kColourTableBytes = 256 * 2;
constexpr std::uint32_t kPaletteBytes = 256 * 3;
constexpr std::uint32_t kSmoothTableBytes = 65536 * 2;

// Modes 0-3 write 8-bit pixels, 6-9 the same four shapes in 16-bit pixels.
constexpr std::uint32_t kMode16 = 6;
enum BlitShape : std::uint32_t {
    kShapeCopy = 0,
    kShapeDouble = 1,
    kShapeInterlace = 2,
    kShapeSmooth = 3
};

std::uint32_t ZambBlitModeFromFlags(std::uint32_t flags);
// Rebuilds the colour and smoothing tables that the mode uses and that are older than the
// palette, or were built for the other destination depth.
void ZambBlitUpdateTables(ZambBlitHandle* handle);

// 65,536 entries for the index pairs (a, b): the 16-bit pixel of the halved-component
// average, or the index nearest to the average colour.
void BuildSmoothTable555(const std::uint8_t* palette, std::uint16_t* table);
void BuildSmoothTable565(const std::uint8_t* palette, std::uint16_t* table);
void BuildSmoothTable8(const std::uint8_t* palette, std::uint8_t* table);

std::uint16_t PackRgb555(std::uint32_t red, std::uint32_t green, std::uint32_t blue);
std::uint16_t PackRgb565(std::uint32_t red, std::uint32_t green, std::uint32_t blue);
