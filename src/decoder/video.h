// SPDX-License-Identifier: MIT
// Video decoding inside the library: the block decoder, the 16-bit colour table and the
// changed-rectangle scan that reads the change map it leaves.
#pragma once

#include <cstdint>

#include "core/movie_names.h"
#include "decoder/destination.h"
#include "decoder/trees.h"

struct ChunkReading;

// Decodes one video chunk into the destination and leaves its change map. The stream is
// read from `chunk` up to `chunkEnd` and goes on as zero bits after that. `colours` are the
// 16-bit pixels of the 256 indices (read by 16-bit destinations only).
void DecodeVideo(const std::uint8_t* chunk, const std::uint8_t* chunkEnd, TreeBlock* trees,
                 Destination* dest, const std::uint16_t* colours);
// The same picture with the chunk read checked (see ChunkReading), for the tools. A function
// of its own, so that programs that never check (the player, the web page) link none of the
// checked block loops.
void DecodeVideoChecked(const std::uint8_t* chunk, const std::uint8_t* chunkEnd, TreeBlock* trees,
                        Destination* dest, const std::uint16_t* colours, ChunkReading* reading);

// Decodes the current frame's video chunk into the movie's destination (which must be set),
// rebuilding the 16-bit colour table first when the palette changed.
void DecodeCurrentPicture(Movie* movie);

// DecodeCurrentPicture with the chunk read checked (see ChunkReading).
void DecodeCurrentPictureChecked(Movie* movie, ChunkReading* reading);

// ZambDoFrame's two halves around the sound: the frame's timing and counts, then its
// picture, which a skip leaves as it was (counted as skipped); with READING the picture's
// chunk is read checked, and READING is left as it is when no picture was decoded.
void BeginFrame(Movie* movie);
void PaintFrame(Movie* movie, bool skip, ChunkReading* reading);

// The 16-bit pixel of an 8-bit palette entry, for the 5-5-5 (kFormat555) or 5-6-5 layout.
std::uint16_t ColourPixel16(std::uint8_t format, const std::uint8_t* rgb);
// Rebuilds the movie's 16-bit colour table from its current palette.
void RebuildColourTable16(Movie* movie);

// The index of the entry of `palette` nearest each movie colour, searched from entry i on,
// wrapping, the first of equally near entries winning: a colour the palette holds at the
// movie colour's own index keeps that index.
void NearestColourMap(const std::uint8_t* moviePalette, const void* palette, std::uint32_t count,
                      std::uint32_t paletteType, std::uint8_t map[256]);

// The changed-rectangle scan (run = x, y, w, h in decoded pixels and rows; rect = left,
// top, right, bottom in destination coordinates).
bool NextChangedRun(Destination* dest, std::int32_t run[4]);
bool NextChangedRect(Movie* movie, std::uint32_t mode, std::int32_t rect[4]);
void MergeRect(Movie* movie, std::uint32_t index);
