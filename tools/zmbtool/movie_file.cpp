// SPDX-License-Identifier: MIT
// zmbtool's movie opening and frame checks.
#include "movie_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/standin/kernel/seams.h"
#include "platform/win32.h"

namespace zmbtool {

namespace {

std::uint32_t Word(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

bool ReadAt(int fd, std::uint64_t offset, void* buffer, std::size_t size) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (size > 0) {
        const ssize_t got = ::pread(fd, out, size, static_cast<off_t>(offset));
        if (got <= 0) return false;
        out += got, offset += static_cast<std::uint64_t>(got), size -= static_cast<std::size_t>(got);
    }
    return true;
}

std::string Plural(std::uint64_t n, const char* one) {
    return std::to_string(n) + " " + one + (n == 1 ? "" : "s");
}

// Walks the chunks of the frame at OFFSET, SIZE bytes long; empty when they fit the frame.
std::string ChunkFault(int fd, std::uint64_t offset, std::uint32_t size, std::uint8_t type,
                       std::uint32_t const* trackFormats) {
    std::uint64_t at = 0;
    if (type & FRAME_PALETTE) {
        std::uint8_t units = 0;
        if (size < 1 || !ReadAt(fd, offset, &units, 1)) return "the palette chunk is cut off";
        const std::uint32_t bytes = units * 4u;
        if (bytes < 4 || bytes > size)
            return "the palette chunk (" + Plural(bytes, "byte") + ") runs out of its frame";
        at = bytes;
    }
    for (int n = 0; n < ZAMB_TRACK_COUNT; ++n) {
        if (!(type & (FRAME_TRACK0 << n))) continue;
        std::uint8_t length[4];
        if (at + 4 > size || !ReadAt(fd, offset + at, length, 4))
            return "track " + std::to_string(n) + "'s sound chunk is cut off";
        const std::uint32_t bytes = Word(length);
        const std::uint32_t header = trackFormats[n] & TRACK_COMPRESSED ? 8 : 4;
        if (bytes < header || at + bytes > size)
            return "track " + std::to_string(n) + "'s sound chunk (" + Plural(bytes, "byte") +
                   ") runs out of its frame";
        at += bytes;
    }
    if (at >= size) return "the frame has no picture data";
    return "";
}

}  // namespace

MovieFile::~MovieFile() {
    Close();
}

bool MovieFile::Open(const std::string& path, std::uint32_t flags, std::string* error) {
    Close();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return *error = "cannot read " + path + ": " + std::strerror(errno), false;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
        ::close(fd);
        return *error = "cannot read " + path + ": it is a folder", false;
    }
    descriptor_ = ::dup(fd);
    handle_ = standin::AdoptFileDescriptor(fd);
    movie_ = ZambOpen(handle_, flags | ZAMB_FILE_HANDLE, 0xFFFFFFFFu);
    if (movie_ == nullptr) {
        *error = path + ": not a usable movie (its header, tables, trees or sizes are damaged)";
        Close();
        return false;
    }
    return true;
}

FrameCheck MovieFile::CheckFrames() const {
    FrameCheck check;
    check.stored = movie_->FrameCount + (movie_->FileFlags & FILE_RING);
    struct stat status {};
    const std::uint64_t length =
        ::fstat(descriptor_, &status) == 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
    std::uint64_t offset = ZAMB_HEADER_BYTES + std::uint64_t{5} * check.stored + movie_->TreeDataSize;
    bool whole = true;
    for (std::uint32_t i = 0; i < check.stored; ++i) {
        const std::uint32_t size = movie_->FrameSizes[i];
        if (offset + size > length) {
            const std::uint64_t inside = offset < length ? length - offset : 0;
            check.faults.push_back(
                {i, "the file ends " + Plural(inside, "byte") + " into this frame of " +
                        std::to_string(size) + " (" + Plural(check.stored - i, "frame") +
                        " missing or cut)"});
            break;
        }
        std::string fault = ChunkFault(descriptor_, offset, size, movie_->FrameTypes[i],
                                       movie_->TrackFormat);
        if (!fault.empty()) check.faults.push_back({i, fault});
        whole = whole && fault.empty();
        if (whole) check.whole = i + 1;
        offset += size;
    }
    return check;
}

void MovieFile::Close() {
    if (movie_ != nullptr) ZambClose(movie_);
    movie_ = nullptr;
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = nullptr;
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = -1;
}

}  // namespace zmbtool
