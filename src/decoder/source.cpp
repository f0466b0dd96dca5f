// SPDX-License-Identifier: MIT
// Reading a movie's bytes from a platform file handle or from a program's reader.
#include "decoder/source.h"

#include <algorithm>

#include "platform/win32.h"

namespace {

ZambReader* ReaderOf(const Movie* movie) {
    return static_cast<ZambReader*>(movie->FileHandle);
}

}  // namespace

std::uint32_t SourceRead(Movie* movie, void* buffer, std::uint32_t count) {
    if (ReadsThroughReader(movie)) {
        ZambReader* reader = ReaderOf(movie);
        const std::size_t got = reader->Read(reader->Opaque, buffer, count);
        // A reader that claims more than it was asked for has not filled the rest.
        return static_cast<std::uint32_t>(std::min<std::size_t>(got, count));
    }
    DWORD got = 0;
    if (!ReadFile(movie->FileHandle, buffer, count, &got, nullptr)) return 0;
    return got;
}

void SourceSeek(Movie* movie, std::uint64_t position) {
    if (ReadsThroughReader(movie)) {
        ZambReader* reader = ReaderOf(movie);
        // Reading on from the wrong place would decode another frame's bytes as this one's.
        if (reader->Seek(reader->Opaque, position) != 0) movie->ReadFailed = 1;
        return;
    }
    LONG high = static_cast<LONG>(position >> 32);
    SetFilePointer(movie->FileHandle, static_cast<LONG>(position & 0xFFFFFFFFu), &high, FILE_BEGIN);
}
