/* SPDX-License-Identifier: MIT */
/* The blitter library: copies 8-bit palettised pictures into 8- or 16-bit screen memory. */
#ifndef ZAMBREL_BLIT_H
#define ZAMBREL_BLIT_H

#include <stdint.h>

/* The exported operations use the callee-pops convention where the platform has one. */
#if defined(_WIN32) && !defined(_WIN64)
#define ZAMBBLIT_API __stdcall
#else
#define ZAMBBLIT_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque to callers: opened by ZambBlitOpen, released by ZambBlitClose. */
typedef struct ZambBlitHandle ZambBlitHandle;
/* The display's drawing-surface record; the buffer-to-buffer copies read its BottomUp,
   Height, Pitch and Buffer fields. */
struct Display;

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
ZambBlitHandle* ZAMBBLIT_API ZambBlitOpen(uint32_t flags);
/* Null is ignored. */
void ZAMBBLIT_API ZambBlitClose(ZambBlitHandle* handle);
/* Takes 256 entries laid out as paletteType says. Returns 0 when the handle keeps no colours
   or when the palette equals the one already taken; 1 when it was taken. */
uint32_t ZAMBBLIT_API ZambBlitSetPalette(ZambBlitHandle* handle, const void* palette,
                                         uint32_t paletteType);
/* 1 when taken; 0, handle unchanged, when the flags need a table the handle was opened
   without. */
uint32_t ZAMBBLIT_API ZambBlitSetFlags(ZambBlitHandle* handle, uint32_t flags);
/* Names the handle's mode into buffer (at least 31 bytes) and returns buffer. */
char* ZAMBBLIT_API ZambBlitString(ZambBlitHandle* handle, char* buffer);

/* Copies width x height source pixels to (destX, destY), given in source-sized pixels, in
   the handle's mode. Pitches are signed byte counts; nothing is clipped. */
void ZAMBBLIT_API ZambBlit(ZambBlitHandle* handle, void* dest, int32_t destPitch,
                           uint32_t destX, uint32_t destY, const uint8_t* src,
                           int32_t srcPitch, uint32_t srcX, uint32_t srcY, uint32_t width,
                           uint32_t height);

/* The key-colour copies work only in the 8-bit 1x mode; only the key's low byte counts.
   Mask and merge buffers are addressed like the source, with the source's pitch. */
void ZAMBBLIT_API ZambBlitTrans(ZambBlitHandle* handle, void* dest, int32_t destPitch,
                                uint32_t destX, uint32_t destY, const uint8_t* src,
                                int32_t srcPitch, uint32_t srcX, uint32_t srcY,
                                uint32_t width, uint32_t height, uint32_t transColour);
void ZAMBBLIT_API ZambBlitMask(ZambBlitHandle* handle, void* dest, int32_t destPitch,
                               uint32_t destX, uint32_t destY, const uint8_t* src,
                               int32_t srcPitch, uint32_t srcX, uint32_t srcY, uint32_t width,
                               uint32_t height, uint32_t keyColour, const uint8_t* mask);
void ZAMBBLIT_API ZambBlitMerge(ZambBlitHandle* handle, void* dest, int32_t destPitch,
                                uint32_t destX, uint32_t destY, const uint8_t* src,
                                int32_t srcPitch, uint32_t srcX, uint32_t srcY,
                                uint32_t width, uint32_t height, uint32_t keyColour,
                                const uint8_t* merge);
/* Fills a rectangle at the handle's pixel size, never doubled. A negative colour is the
   pixel value itself (negated); otherwise it is a palette index. */
void ZAMBBLIT_API ZambBlitClear(ZambBlitHandle* handle, void* dest, int32_t destPitch,
                                uint32_t destX, uint32_t destY, uint32_t width,
                                uint32_t height, int32_t colour);

/* Copies between display buffers, coordinates in picture rows from the top whatever the
   storage order. Nothing is written for a null record or a rectangle outside a buffer. */
void ZAMBBLIT_API ZambBufferToBuffer(struct Display* destBuf, uint32_t destX, uint32_t destY,
                                     struct Display* srcBuf, uint32_t srcX, uint32_t srcY,
                                     uint32_t width, uint32_t height);
void ZAMBBLIT_API ZambBufferToBufferTrans(struct Display* destBuf, uint32_t destX,
                                          uint32_t destY, struct Display* srcBuf,
                                          uint32_t srcX, uint32_t srcY, uint32_t width,
                                          uint32_t height, uint32_t transColour);
/* The mask or merge record must be stored like the source (same BottomUp and Pitch). */
void ZAMBBLIT_API ZambBufferToBufferMask(struct Display* destBuf, uint32_t destX,
                                         uint32_t destY, struct Display* srcBuf,
                                         uint32_t srcX, uint32_t srcY, uint32_t width,
                                         uint32_t height, uint32_t keyColour,
                                         struct Display* maskBuf);
void ZAMBBLIT_API ZambBufferToBufferMerge(struct Display* destBuf, uint32_t destX,
                                          uint32_t destY, struct Display* srcBuf,
                                          uint32_t srcX, uint32_t srcY, uint32_t width,
                                          uint32_t height, uint32_t keyColour,
                                          struct Display* mergeBuf);

#ifdef __cplusplus
}
#endif

#endif
