// SPDX-License-Identifier: MIT
// The full-screen component "DISPDIB.DLL": its window class, messages and flags.
#pragma once

#include "platform/standin/gui/user.h"

#define DISPLAYDIB_NOERROR 0x0000
#define DISPLAYDIB_NOTSUPPORTED 0x0001
#define DISPLAYDIB_INVALIDDIB 0x0002
#define DISPLAYDIB_INVALIDFORMAT 0x0003
#define DISPLAYDIB_NOPALETTE 0x0010
#define DISPLAYDIB_NOCENTER 0x0020
#define DISPLAYDIB_NOWAIT 0x0040
#define DISPLAYDIB_NOIMAGE 0x0080
#define DISPLAYDIB_ZOOM2 0x0100
#define DISPLAYDIB_DONTLOCKTASK 0x0200
#define DISPLAYDIB_TEST 0x0400
#define DISPLAYDIB_NOFLIP 0x0800
#define DISPLAYDIB_BEGIN 0x8000
#define DISPLAYDIB_END 0x4000
#define DISPLAYDIB_MODE 0x000F
#define DISPLAYDIB_MODE_DEFAULT 0x0000
#define DISPLAYDIB_MODE_320x200x8 0x0001
#define DISPLAYDIB_MODE_320x240x8 0x0005
#define DISPLAYDIB_WINDOW_CLASS "DisplayDibWindow"
#define DISPLAYDIB_DLL "DISPDIB.DLL"

#define DDM_SETFMT (WM_USER + 0)
#define DDM_DRAW (WM_USER + 1)
#define DDM_CLOSE (WM_USER + 2)

// The adapter's memory behind a real-mode linear address (0xA0000 or 0xB0000): while the
// component holds the screen in 320x200 at 8 bits, it is the screen buffer itself, 320 bytes
// a row. A stand-in service: programs on Windows take the address as it is.
BYTE* ZambrelVideoMemory(DWORD linearAddress);
