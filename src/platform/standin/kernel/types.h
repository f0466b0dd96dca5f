// SPDX-License-Identifier: MIT
// The basic Windows types, with the widths they have on Windows.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__i386__)
#define WINAPI __attribute__((stdcall))
#else
#define WINAPI
#endif
#define CALLBACK WINAPI
#define APIENTRY WINAPI

using BYTE = unsigned char;
using WORD = unsigned short;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using SHORT = short;
using USHORT = unsigned short;
using INT = int;
using UINT = unsigned int;
using BOOL = int;
using BOOLEAN = BYTE;
using CHAR = char;
using UCHAR = unsigned char;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using LONG_PTR = std::intptr_t;
using ULONG_PTR = std::uintptr_t;
using INT_PTR = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using DWORD_PTR = ULONG_PTR;
using SIZE_T = ULONG_PTR;
using WPARAM = UINT_PTR;
using LPARAM = LONG_PTR;
using LRESULT = LONG_PTR;
using HRESULT = LONG;
using ATOM = WORD;
using COLORREF = DWORD;

using PVOID = void*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPSTR = char*;
using LPCSTR = const char*;
using PSTR = char*;
using PCSTR = const char*;
using LPBYTE = BYTE*;
using LPWORD = WORD*;
using LPDWORD = DWORD*;
using PDWORD = DWORD*;
using LPLONG = LONG*;
using PLONG = LONG*;
using LPINT = int*;
using LPBOOL = BOOL*;

using HANDLE = void*;
using LPHANDLE = HANDLE*;

// Distinct handle types, as the SDK declares them when STRICT is defined.
#define ZAMBREL_DECLARE_HANDLE(name) \
    struct name##__ {                \
        int unused;                  \
    };                               \
    using name = name##__*
ZAMBREL_DECLARE_HANDLE(HINSTANCE);
ZAMBREL_DECLARE_HANDLE(HWND);
ZAMBREL_DECLARE_HANDLE(HDC);
ZAMBREL_DECLARE_HANDLE(HPALETTE);
ZAMBREL_DECLARE_HANDLE(HBITMAP);
ZAMBREL_DECLARE_HANDLE(HBRUSH);
ZAMBREL_DECLARE_HANDLE(HICON);
ZAMBREL_DECLARE_HANDLE(HMENU);
ZAMBREL_DECLARE_HANDLE(HFONT);
ZAMBREL_DECLARE_HANDLE(HPEN);
ZAMBREL_DECLARE_HANDLE(HRGN);
ZAMBREL_DECLARE_HANDLE(HMONITOR);
using HMODULE = HINSTANCE;
using HCURSOR = HICON;
using HGDIOBJ = void*;

using FARPROC = INT_PTR(WINAPI*)();

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#ifndef MAX_PATH
#define MAX_PATH 260
#endif

constexpr inline WORD LOWORD(DWORD_PTR value) {
    return static_cast<WORD>(value & 0xFFFF);
}
constexpr inline WORD HIWORD(DWORD_PTR value) {
    return static_cast<WORD>((value >> 16) & 0xFFFF);
}
constexpr inline DWORD MAKELONG(WORD low, WORD high) {
    return static_cast<DWORD>(low) | (static_cast<DWORD>(high) << 16);
}

#define S_OK ((HRESULT)0)
#define E_FAIL ((HRESULT)0x80004005)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
