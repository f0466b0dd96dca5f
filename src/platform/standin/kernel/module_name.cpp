// SPDX-License-Identifier: MIT
// The program's own file name, from the operating system rather than from argv[0].
#include <unistd.h>

#include <cstring>

#include "platform/standin/kernel/kernel.h"

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
    if (module != nullptr || !fileName || size == 0) return 0;
    char path[4096];
    ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return 0;
    auto copied = static_cast<DWORD>(length);
    // As on Windows: a name that does not fit is cut, terminated, and the size returned.
    if (copied >= size) {
        std::memcpy(fileName, path, size - 1);
        fileName[size - 1] = '\0';
        return size;
    }
    std::memcpy(fileName, path, copied);
    fileName[copied] = '\0';
    return copied;
}

DWORD WINAPI GetCurrentProcessId() {
    return static_cast<DWORD>(::getpid());
}

DWORD WINAPI GetVersion() {
    return 0x05650004u;
}
