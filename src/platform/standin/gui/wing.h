// SPDX-License-Identifier: MIT
// WinG: device contexts and top-down 8-bit bitmaps, reached through "WING32.DLL".
#pragma once

#include "platform/standin/gui/gdi.h"

HDC WINAPI WinGCreateDC();
BOOL WINAPI WinGRecommendDIBFormat(BITMAPINFO* info);
HBITMAP WINAPI WinGCreateBitmap(HDC dc, const BITMAPINFO* info, void** bits);
BOOL WINAPI WinGBitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX,
                       int sourceY);
BOOL WINAPI WinGStretchBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX,
                           int sourceY, int sourceWidth, int sourceHeight);
UINT WINAPI WinGSetDIBColorTable(HDC dc, UINT start, UINT count, const RGBQUAD* colors);
