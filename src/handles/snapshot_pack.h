// SPDX-License-Identifier: MIT
// A compact, exact form for the seek index's pictures. A picture costs Width x Height bytes
// raw, which for a long movie leaves the snapshots dozens of frames apart within the index's
// budget; packed, several times as many fit, and a seek decodes that many fewer frames.
// Unpacking costs about a third of decoding one frame, so it pays for itself when it saves
// even one.
#pragma once

#include <cstddef>
#include <cstdint>

// The bytes PackPicture needs in `out`: a little more than the picture itself, for pictures
// that do not pack, and room to work in.
std::size_t PackedPictureBound(std::uint32_t width, std::uint32_t height);

// Packs `width` x `height` palette indices (rows `width` bytes apart) into `out`, which holds
// PackedPictureBound(width, height) bytes; returns the bytes written, never more than one
// more than the picture's.
std::size_t PackPicture(const std::uint8_t* picture, std::uint32_t width, std::uint32_t height,
                        std::uint8_t* out);

// Gives back exactly the picture PackPicture packed into `packed` (`size` bytes). False when
// the bytes are not such a picture of this size, in which case `picture` is not usable.
bool UnpackPicture(const std::uint8_t* packed, std::size_t size, std::uint32_t width,
                   std::uint32_t height, std::uint8_t* picture);
