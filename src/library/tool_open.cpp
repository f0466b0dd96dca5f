// SPDX-License-Identifier: MIT
// Opening movies for zmbtool from a descriptor or from memory, through the stand-in's files.
#include "library/tool_open.h"

#include "platform/standin/kernel/seams.h"
#include "platform/win32.h"

namespace {

// ZambOpen leaves a handle it is given to its caller, whether the open succeeds or not.
bool OpenOn(HANDLE input, std::uint32_t flags, ToolMovie* out) {
    *out = ToolMovie{};
    if (input == nullptr || input == INVALID_HANDLE_VALUE) return false;
    Movie* movie = ZambOpen(input, flags | ZAMB_FILE_HANDLE, 0xFFFFFFFFu);
    if (movie == nullptr) {
        CloseHandle(input);
        return false;
    }
    *out = ToolMovie{movie, input};
    return true;
}

}  // namespace

bool ToolOpenDescriptor(int fd, std::uint32_t flags, ToolMovie* out) {
    return OpenOn(standin::AdoptFileDescriptor(fd), flags, out);
}

bool ToolOpenMemory(const void* data, std::size_t size, std::uint32_t flags, ToolMovie* out) {
    return OpenOn(standin::OpenMemoryFile(data, size), flags, out);
}

void ToolCloseMovie(ToolMovie* movie) {
    if (movie->movie != nullptr) ZambClose(movie->movie);
    if (movie->input != nullptr) CloseHandle(movie->input);
    *movie = ToolMovie{};
}
