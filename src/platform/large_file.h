// SPDX-License-Identifier: MIT
// Seeking and telling in C library files past 2 GiB, on both sides.
#pragma once

#include <cstdint>
#include <cstdio>

#ifndef _WIN32
#include <sys/types.h>
#endif

// 0 when the file moved to `position` counted from `origin` (SEEK_SET, SEEK_END).
inline int SeekLargeFile(std::FILE* file, std::uint64_t position, int origin) {
#ifdef _WIN32
    return _fseeki64(file, static_cast<long long>(position), origin);
#else
    return fseeko(file, static_cast<off_t>(position), origin);
#endif
}

// The file's position, or a negative value when it cannot be told.
inline std::int64_t TellLargeFile(std::FILE* file) {
#ifdef _WIN32
    return _ftelli64(file);
#else
    return static_cast<std::int64_t>(ftello(file));
#endif
}
