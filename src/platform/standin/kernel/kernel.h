// SPDX-License-Identifier: MIT
// KERNEL services: files, the per-user profile, debug output, the program's own file name.
#pragma once

#include "platform/standin/kernel/types.h"

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
struct OVERLAPPED;
using LPOVERLAPPED = OVERLAPPED*;

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define INVALID_SET_FILE_POINTER ((DWORD)-1)

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000u
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_READ_FAULT 30L

// Paths may use '\' as the separator; a name that does not exist exactly is looked up
// case-insensitively in its folder. Only reading is offered.
HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                          LPSECURITY_ATTRIBUTES security, DWORD creationDisposition,
                          DWORD flagsAndAttributes, HANDLE templateFile);
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
                     LPOVERLAPPED overlapped);
DWORD WINAPI SetFilePointer(HANDLE file, LONG distanceToMove, PLONG distanceToMoveHigh,
                            DWORD moveMethod);
BOOL WINAPI CloseHandle(HANDLE object);
DWORD WINAPI GetLastError();
void WINAPI SetLastError(DWORD error);

// Reads the per-user profile: $ZAMBREL_PROFILE, else
// ${XDG_CONFIG_HOME:-~/.config}/zambrel/profile.ini. Section and key names ignore case.
UINT WINAPI GetProfileIntA(LPCSTR appName, LPCSTR keyName, INT defaultValue);

// Standard error, unless a test has installed a sink (platform/standin/kernel/seams.h).
void WINAPI OutputDebugStringA(LPCSTR text);

// The platform version: major in the low byte, minor in the next, the top bit clear for the
// NT line. The stand-in reports 4.0, a platform with DIB sections and no Win32s limits.
DWORD WINAPI GetVersion();

// The running process's id, as GetWindowThreadProcessId reports it for our windows.
DWORD WINAPI GetCurrentProcessId();

// The running executable's own path (module null), as the operating system knows it.
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);

// Under the test clock, Sleep advances that clock instead of waiting.
void WINAPI Sleep(DWORD milliseconds);
