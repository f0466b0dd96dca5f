// SPDX-License-Identifier: MIT
// A fixed sequence of calls to the fourteen exported blitter operations whose results are
// recorded byte for byte, so that the program on Windows (calling them through the
// executable's export table) and its twin on Linux (linked to them) can be compared.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zambrel/blit.h"

struct BlitFunctions {
    decltype(&ZambBlitOpen) Open;
    decltype(&ZambBlitClose) Close;
    decltype(&ZambBlitSetPalette) SetPalette;
    decltype(&ZambBlitSetFlags) SetFlags;
    decltype(&ZambBlitString) String;
    decltype(&ZambBlit) Blit;
    decltype(&ZambBlitTrans) Trans;
    decltype(&ZambBlitMask) Mask;
    decltype(&ZambBlitMerge) Merge;
    decltype(&ZambBlitClear) Clear;
    decltype(&ZambBufferToBuffer) BufferToBuffer;
    decltype(&ZambBufferToBufferTrans) BufferToBufferTrans;
    decltype(&ZambBufferToBufferMask) BufferToBufferMask;
    decltype(&ZambBufferToBufferMerge) BufferToBufferMerge;
};

// The exported names, in the order of BlitFunctions' fields.
extern const char* const kBlitFunctionNames[14];

// Results as named sections: the name and its NUL, the length as 4 bytes little-endian,
// then the bytes.
std::vector<std::uint8_t> RunBlitCalls(const BlitFunctions& f);

// The first difference between two recordings ("" when equal): the section's name and the
// byte offset within it, or which recording ends early.
std::string FirstDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);
