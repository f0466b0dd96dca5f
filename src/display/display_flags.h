// SPDX-License-Identifier: MIT
// The display flags: how the player asks for its display mode and window style.
#pragma once

#include <cstdint>

// The requested video type sits in the low bits (0 automatic, 22 to 25 the four /V types);
// the rest are options and window-style bits. DisplayCreateFlags turns them into
// DisplayCreate's own flags.
inline constexpr std::uint32_t kDisplayVideoTypeMask = 0x1F;
inline constexpr std::uint32_t kDisplayNoDirectDraw = 0x20;
inline constexpr std::uint32_t kDisplaySmoothing = 0x40;
inline constexpr std::uint32_t kDisplayInterlaced = 0x80;
inline constexpr std::uint32_t kDisplayDoubleBuffer = 0x100;
inline constexpr std::uint32_t kDisplayNoCaption = 0x200;
inline constexpr std::uint32_t kDisplayNoClearing = 0x1000;
inline constexpr std::uint32_t kDisplayNoDialogFrame = 0x4000;
inline constexpr std::uint32_t kDisplayThinBorder = 0x8000;
inline constexpr std::uint32_t kDisplayStyleMask =
    kDisplayNoCaption | kDisplayNoDialogFrame | kDisplayThinBorder;
