// SPDX-License-Identifier: MIT
// The screen blit: a rectangle of an 8-bit picture into screen memory in the handle's mode.
#include "blit/handle.h"
#include "blit/workers.h"

namespace {

std::uint32_t PixelBytes(std::uint32_t mode) {
    return mode >= kMode16 ? 2 : 1;
}
bool ModeDoubles(std::uint32_t mode) {
    return mode % kMode16 != kShapeCopy;
}

// Where the rectangle starts in both buffers and how the rows advance. The doubled modes
// take destX and destY in source pixels and double them here.
BlitRows RowsFor(std::uint32_t mode, void* dest, std::int32_t destPitch, std::uint32_t destX,
                 std::uint32_t destY, const std::uint8_t* src, std::int32_t srcPitch,
                 std::uint32_t srcX, std::uint32_t srcY) {
    const std::ptrdiff_t scale = ModeDoubles(mode) ? 2 : 1;
    const std::ptrdiff_t column = static_cast<std::ptrdiff_t>(destX) * PixelBytes(mode);
    BlitRows rows{};
    rows.src = src + static_cast<std::ptrdiff_t>(srcY) * srcPitch + srcX;
    rows.srcPitch = srcPitch;
    rows.dest = static_cast<std::uint8_t*>(dest) +
                scale * (static_cast<std::ptrdiff_t>(destY) * destPitch + column);
    rows.destPitch = destPitch;
    // Every mode but the plain ones moves down two destination rows per source row.
    rows.destStep = scale * static_cast<std::ptrdiff_t>(destPitch);
    return rows;
}

}  // namespace

extern "C" void ZAMBBLIT_API ZambBlit(ZambBlitHandle* handle, void* dest, std::int32_t destPitch,
                                      std::uint32_t destX, std::uint32_t destY,
                                      const std::uint8_t* src, std::int32_t srcPitch,
                                      std::uint32_t srcX, std::uint32_t srcY, std::uint32_t width,
                                      std::uint32_t height) {
    if (width == 0 || height == 0) return;
    const std::uint32_t mode = handle->mode;
    BlitRows rows = RowsFor(mode, dest, destPitch, destX, destY, src, srcPitch, srcX, srcY);
    rows.width = width;
    rows.height = height;
    const auto* smooth16 = static_cast<const std::uint16_t*>(handle->smoothTable);
    switch (mode) {
        case 0:
            BlitCopy8(rows);
            break;
        case 1:
            BlitDouble8(rows);
            break;
        case 2:
            BlitInterlace8(rows);
            break;
        case 3:
            BlitSmooth8(rows, static_cast<const std::uint8_t*>(handle->smoothTable));
            break;
        case 6:
            BlitCopy16(rows, handle->colourTable);
            break;
        case 7:
            BlitDouble16(rows, handle->colourTable);
            break;
        case 8:
            BlitInterlace16(rows, handle->colourTable);
            break;
        case 9:
            BlitSmooth16(rows, smooth16);
            break;
        default:
            break;
    }
}
