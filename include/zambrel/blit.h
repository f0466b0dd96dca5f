/* SPDX-License-Identifier: MIT */
/* The blitter library: copies 8-bit palettised pictures into 8- or 16-bit screen memory.

   Threads: a handle belongs to one thread at a time; the copies that take no handle touch
   only their arguments. Once a program has called ZambOpen, building a smoothing handle's
   tables (ZambBlitSetPalette, ZambBlitSetFlags) keeps that interface's sound flowing by
   calling ZambServiceSound, so those calls are made on the thread that uses ZambOpen. */
#ifndef ZAMBREL_BLIT_H
#define ZAMBREL_BLIT_H

#include <stdint.h>

/* The exported operations use the callee-pops convention where the platform has one. */
#if defined(_WIN32) && !defined(_WIN64)
#define ZAMBBLIT_API __stdcall
#else
#define ZAMBBLIT_API
#endif

#include "export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque to callers: opened by ZambBlitOpen, released by ZambBlitClose. */
typedef struct ZambBlitHandle ZambBlitHandle;

/* The display's drawing-surface record, field for field as the player lays it out (the
   player calls it Display, a name window-system headers take for their own). The
   buffer-to-buffer copies read only BottomUp, Height, Pitch and Buffer, so a caller's own
   buffer needs only those four set. */
typedef struct ZambDisplayBuffer {
    uint32_t BottomUp; /* 1: the first row in memory is the picture's bottom row */
    uint32_t RectMerge;
    uint32_t Mode;
    uint32_t FullScreen;
    uint32_t Width;
    uint32_t Height; /* rows */
    uint32_t Pitch;  /* bytes per row */
    uint32_t Stretched;
    uint32_t OutWidth;
    uint32_t OutHeight;
    uint32_t ScreenColors;
    uint32_t PaletteEntries;
    uint32_t FreeCount;
    uint32_t FirstFree;
    uint32_t EndFree;
    uint8_t ColorTable[256 * 4];
    uint32_t PaletteType;
    uint32_t PaletteChanged;
    uint32_t HasContent;
    uint8_t* Buffer; /* Pitch x Height bytes of 8-bit pixels */
    uint8_t* SavedScreen;
    void* Bitmap;
    void* OldBitmap;
    void* PaletteHandle;
    void* MemoryDC;
    uint32_t Active;
    void* Window;
    void (*OldWindowProc)(void);
    void (*OldFullScreenProc)(void);
    void* FullScreenWindow;
    void* DirectDrawObject;
    void* PrimarySurface;
    uint32_t BlitFlags;
    ZambBlitHandle* Blit;
    uint32_t SoftwareCursor;
    uint32_t Accelerated;
    uint32_t DirectActive;
    int32_t ClipRect[4];
    uint32_t RectMode;
    int32_t* RectList;
    int32_t* RectCursor;
    uint32_t RectCapacity;
    uint32_t RectCount;
    void* RectDC;
} ZambDisplayBuffer;

/* Size field of the blitter flags. 1x is what remains when 0x2, 0x4 and 0x8 are clear;
   smoothing wins over interlacing, which wins over plain doubling. */
#define ZAMBBLIT_1X 0x00000001u
#define ZAMBBLIT_2X 0x00000002u
#define ZAMBBLIT_2X_SMOOTH 0x00000004u
#define ZAMBBLIT_2X_INTERLACE 0x00000008u
/* Destination-format field: 0 is 8-bit palette indices. */
#define ZAMBBLIT_FORMAT_MASK 0xC0000000u
#define ZAMBBLIT_RGB555 0x80000000u
#define ZAMBBLIT_RGB565 0xC0000000u

/* Palette-type bits of ZambBlitSetPalette: how the caller's 256 entries are laid out. */
#define ZAMBPAL_WIDE 0x1u      /* 16-bit components, the low byte is taken */
#define ZAMBPAL_BGR 0x2u       /* blue first, red third */
#define ZAMBPAL_4BYTE 0x4u     /* 4-byte entries */
#define ZAMBPAL_PAD_FIRST 0x8u /* with ZAMBPAL_4BYTE: the entry's first byte is padding */

/* Null when memory cannot be had, or for the lone format value 0x40000000, which names no
   16-bit layout. */
ZAMBREL_PUBLIC ZambBlitHandle* ZAMBBLIT_API ZambBlitOpen(uint32_t flags);
/* Null is ignored. */
ZAMBREL_PUBLIC void ZAMBBLIT_API ZambBlitClose(ZambBlitHandle* handle);
/* Takes 256 entries laid out as paletteType says. Returns 0 when the handle keeps no colours
   or when the palette equals the one already taken; 1 when it was taken. */
ZAMBREL_PUBLIC uint32_t ZAMBBLIT_API ZambBlitSetPalette(ZambBlitHandle* handle, const void* palette,
                                                        uint32_t paletteType);
/* 1 when taken; 0, handle unchanged, when the flags need a table the handle was opened
   without. */
ZAMBREL_PUBLIC uint32_t ZAMBBLIT_API ZambBlitSetFlags(ZambBlitHandle* handle, uint32_t flags);
/* Names the handle's mode into buffer (at least 31 bytes) and returns buffer. */
ZAMBREL_PUBLIC char* ZAMBBLIT_API ZambBlitString(ZambBlitHandle* handle, char* buffer);

/* Copies width x height source pixels to (destX, destY), given in source-sized pixels, in
   the handle's mode. Pitches are signed byte counts; nothing is clipped. */
ZAMBREL_PUBLIC void ZAMBBLIT_API ZambBlit(ZambBlitHandle* handle, void* dest, int32_t destPitch,
                                          uint32_t destX, uint32_t destY, const uint8_t* src,
                                          int32_t srcPitch, uint32_t srcX, uint32_t srcY,
                                          uint32_t width, uint32_t height);

/* The key-colour copies work only in the 8-bit 1x mode; only the key's low byte counts.
   Mask and merge buffers are addressed like the source, with the source's pitch. */
ZAMBREL_PUBLIC void ZAMBBLIT_API ZambBlitTrans(ZambBlitHandle* handle, void* dest,
                                               int32_t destPitch, uint32_t destX, uint32_t destY,
                                               const uint8_t* src, int32_t srcPitch, uint32_t srcX,
                                               uint32_t srcY, uint32_t width, uint32_t height,
                                               uint32_t transColour);
ZAMBREL_PUBLIC void ZAMBBLIT_API ZambBlitMask(ZambBlitHandle* handle, void* dest, int32_t destPitch,
                                              uint32_t destX, uint32_t destY, const uint8_t* src,
                                              int32_t srcPitch, uint32_t srcX, uint32_t srcY,
                                              uint32_t width, uint32_t height, uint32_t keyColour,
                                              const uint8_t* mask);
ZAMBREL_PUBLIC void ZAMBBLIT_API ZambBlitMerge(ZambBlitHandle* handle, void* dest,
                                               int32_t destPitch, uint32_t destX, uint32_t destY,
                                               const uint8_t* src, int32_t srcPitch, uint32_t srcX,
                                               uint32_t srcY, uint32_t width, uint32_t height,
                                               uint32_t keyColour, const uint8_t* merge);
/* Fills a rectangle at the handle's pixel size, never doubled. A negative colour is the
   pixel value itself (negated); otherwise it is a palette index. */
ZAMBREL_PUBLIC void ZAMBBLIT_API ZambBlitClear(ZambBlitHandle* handle, void* dest,
                                               int32_t destPitch, uint32_t destX, uint32_t destY,
                                               uint32_t width, uint32_t height, int32_t colour);

/* Copies between display buffers, coordinates in picture rows from the top whatever the
   storage order. Nothing is written for a null record or a rectangle outside a buffer. */
ZAMBREL_PUBLIC void ZAMBBLIT_API ZambBufferToBuffer(ZambDisplayBuffer* destBuf, uint32_t destX,
                                                    uint32_t destY, ZambDisplayBuffer* srcBuf,
                                                    uint32_t srcX, uint32_t srcY, uint32_t width,
                                                    uint32_t height);
ZAMBREL_PUBLIC void ZAMBBLIT_API ZambBufferToBufferTrans(ZambDisplayBuffer* destBuf, uint32_t destX,
                                                         uint32_t destY, ZambDisplayBuffer* srcBuf,
                                                         uint32_t srcX, uint32_t srcY,
                                                         uint32_t width, uint32_t height,
                                                         uint32_t transColour);
/* The mask or merge record must be stored like the source (same BottomUp and Pitch). */
ZAMBREL_PUBLIC void ZAMBBLIT_API ZambBufferToBufferMask(ZambDisplayBuffer* destBuf, uint32_t destX,
                                                        uint32_t destY, ZambDisplayBuffer* srcBuf,
                                                        uint32_t srcX, uint32_t srcY,
                                                        uint32_t width, uint32_t height,
                                                        uint32_t keyColour,
                                                        ZambDisplayBuffer* maskBuf);
ZAMBREL_PUBLIC void ZAMBBLIT_API ZambBufferToBufferMerge(ZambDisplayBuffer* destBuf, uint32_t destX,
                                                         uint32_t destY, ZambDisplayBuffer* srcBuf,
                                                         uint32_t srcX, uint32_t srcY,
                                                         uint32_t width, uint32_t height,
                                                         uint32_t keyColour,
                                                         ZambDisplayBuffer* mergeBuf);

#ifdef __cplusplus
}
#endif

#endif
