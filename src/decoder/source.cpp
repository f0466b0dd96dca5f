// SPDX-License-Identifier: MIT
// Reading a movie's bytes through its reader.
#include "decoder/source.h"

#include <algorithm>

#include "decoder/host.h"

namespace {

// Without an installed file reader a file reads as empty, which every caller already
// treats as a movie cut short.
std::size_t NoFileRead(void*, void*, std::size_t) {
    return 0;
}

int NoFileSeek(void*, std::uint64_t) {
    return 1;
}

ZambReader ReaderOf(const Movie* movie) {
    if (ReadsThroughReader(movie)) return *static_cast<const ZambReader*>(movie->FileHandle);
    const HostServices& host = Host();
    ZambReader file{};
    file.Opaque = movie->FileHandle;
    file.Read = host.ReadFile != nullptr ? host.ReadFile : NoFileRead;
    file.Seek = host.SeekFile != nullptr ? host.SeekFile : NoFileSeek;
    return file;
}

}  // namespace

std::uint32_t SourceRead(Movie* movie, void* buffer, std::uint32_t count) {
    // A caller's reader is never asked for nothing: the buffer of an empty block may be null.
    if (count == 0) return 0;
    const ZambReader reader = ReaderOf(movie);
    const std::size_t got = reader.Read(reader.Opaque, buffer, count);
    // A reader that claims more than it was asked for has not filled the rest.
    return static_cast<std::uint32_t>(std::min<std::size_t>(got, count));
}

void SourceSeek(Movie* movie, std::uint64_t position) {
    const ZambReader reader = ReaderOf(movie);
    // Reading on from the wrong place would decode another frame's bytes as this one's.
    if (reader.Seek(reader.Opaque, position) != 0) movie->ReadFailed = 1;
}
