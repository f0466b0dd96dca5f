// SPDX-License-Identifier: MIT
// zmbtool's movie opening and frame checks.
#include "movie_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "decoder/tool_access.h"
#include "library/tool_open.h"

namespace zmbtool {

namespace {

// Tree data beyond this is not read for the tree checks; the library refuses trees that
// large anyway.
constexpr std::uint32_t kLargestTreeData = 64u << 20;

constexpr const char* kTreeNames[] = {"pattern", "colour", "full", "type"};

// The most of a damaged movie that is copied into memory to decode its whole frames when
// the library refuses the file itself. Larger movies are read from the file as they stream.
constexpr std::uint64_t kLargestCopy = std::uint64_t{256} << 20;

std::uint32_t Word(const std::uint8_t* at) {
    return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
           static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

bool ReadAt(int fd, std::uint64_t offset, void* buffer, std::size_t size) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (size > 0) {
        const ssize_t got = ::pread(fd, out, size, static_cast<off_t>(offset));
        if (got <= 0) return false;
        out += got, offset += static_cast<std::uint64_t>(got),
            size -= static_cast<std::size_t>(got);
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
    // An empty picture chunk is a picture of single-leaf codes; whether the picture really
    // needs no bits shows when it is decoded.
    return "";
}

// The header and both frame tables as the file holds them; false when the file is too
// short for them (the library then says what is wrong).
bool ReadTables(int fd, std::uint64_t length, std::vector<std::uint8_t>* tables,
                FrameCheck* check) {
    std::uint8_t header[ZAMB_HEADER_BYTES];
    if (!ReadAt(fd, 0, header, sizeof header)) return false;
    check->frameCount = Word(header + 12);
    check->stored = check->frameCount + (Word(header + 20) & FILE_RING);
    const std::uint64_t bytes = ZAMB_HEADER_BYTES + std::uint64_t{5} * check->stored;
    if (check->stored < check->frameCount || bytes > length) return false;
    tables->resize(static_cast<std::size_t>(bytes));
    return ReadAt(fd, 0, tables->data(), tables->size());
}

std::uint64_t FileLength(int fd) {
    struct stat status {};
    return ::fstat(fd, &status) == 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
}

void CheckAllFrames(int fd, const std::vector<std::uint8_t>& tables, FrameCheck* check) {
    const std::uint8_t* header = tables.data();
    const std::uint8_t* sizes = header + ZAMB_HEADER_BYTES;
    const std::uint8_t* types = sizes + std::size_t{4} * check->stored;
    std::uint32_t formats[ZAMB_TRACK_COUNT];
    for (int n = 0; n < ZAMB_TRACK_COUNT; ++n) formats[n] = Word(header + 72 + 4 * n);
    const std::uint64_t length = FileLength(fd);
    std::uint64_t offset = tables.size() + std::uint64_t{Word(header + 52)};
    for (std::uint32_t i = 0; i < check->stored; ++i) {
        const std::uint32_t size = Word(sizes + std::size_t{4} * i);
        if (offset + size > length) {
            const std::uint64_t inside = offset < length ? length - offset : 0;
            check->faults.push_back({i, "the file ends " + Plural(inside, "byte") +
                                            " into this frame of " + std::to_string(size) + " (" +
                                            Plural(check->stored - i, "frame") +
                                            " missing or cut)"});
            return;
        }
        const std::string fault = ChunkFault(fd, offset, size, types[i], formats);
        if (!fault.empty()) check->faults.push_back({i, fault});
        if (check->faults.empty()) check->whole = i + 1;
        offset += size;
    }
}

}  // namespace

bool CheckMovieInput(const std::string& path, std::string* error) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return *error = "cannot read " + path + ": " + std::strerror(errno), false;
    if (S_ISDIR(status.st_mode)) return *error = "cannot read " + path + ": it is a folder", false;
    // The frame checks and a damaged movie's salvage read the file where they need to,
    // which a pipe cannot give; opening one that nobody writes would wait for ever.
    if (!S_ISREG(status.st_mode)) {
        *error = "cannot read " + path +
                 ": it is not a file (a FIFO or a device); save the movie to a file first";
        return false;
    }
    return true;
}

MovieFile::~MovieFile() {
    Close();
}

bool MovieFile::Open(const std::string& path, std::uint32_t flags, std::string* error) {
    Close();
    if (!CheckMovieInput(path, error)) return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return *error = "cannot read " + path + ": " + std::strerror(errno), false;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return *error = "cannot read " + path + ": it is no longer a file", false;
    }
    descriptor_ = ::dup(fd);
    check_ = FrameCheck{};
    if (ReadTables(descriptor_, FileLength(descriptor_), &header_, &check_))
        CheckAllFrames(descriptor_, header_, &check_);
    if (!ToolOpenDescriptor(fd, flags, &movie_) && !OpenWholeFrames(flags)) {
        *error = path + ": not a usable movie (its header, tables, trees or sizes are damaged)";
        Close();
        return false;
    }
    CheckTrees();
    return true;
}

// Which trees a picture may not read: those the movie does not store, and those whose
// header size leaves fewer nodes than the tree has.
void MovieFile::CheckTrees() {
    absentTrees_ = ToolAbsentTrees(Get());
    shortTrees_ = 0;
    if (header_.size() < ZAMB_HEADER_BYTES) return;
    const std::uint32_t size = Word(header_.data() + 52);
    if (size > kLargestTreeData) return;
    std::vector<std::uint8_t> data(size);
    if (!ReadAt(descriptor_, header_.size(), data.data(), data.size())) return;
    if (!ToolTreeSizesNeeded(data.data(), size, treeSizesNeeded_)) return;
    for (int t = 0; t < 4; ++t) {
        treeSizes_[t] = Word(header_.data() + 56 + 4 * t);
        if (treeSizes_[t] < treeSizesNeeded_[t]) shortTrees_ |= 1u << t;
    }
}

std::string MovieFile::DecodeFrame() {
    ToolPictureReading reading;
    ToolDoFrame(Get(), &reading);
    if (!reading.decoded) return "";
    if (reading.ranOut) return "the picture's stream ends before its last block";
    for (int t = 0; t < 4; ++t) {
        if (!(reading.treesRead & (1u << t))) continue;
        const std::string tree = std::string("the picture reads the ") + kTreeNames[t] + " tree";
        if (absentTrees_ & (1u << t)) return tree + ", which the movie does not store";
        if (shortTrees_ & (1u << t))
            return tree + ", whose size of " + Plural(treeSizes_[t], "byte") + " is short of the " +
                   std::to_string(treeSizesNeeded_[t]) + " its nodes need";
    }
    return "";
}

// A copy of the movie that ends after its whole frames: the header counts only them (and
// no ring frame), the tables list only them, and the trees and frames follow unchanged.
bool MovieFile::OpenWholeFrames(std::uint32_t flags) {
    if (check_.whole == 0 || check_.whole == check_.stored) return false;
    const std::uint32_t stored = check_.stored, whole = check_.whole;
    std::vector<std::uint8_t> copy(header_.begin(), header_.begin() + ZAMB_HEADER_BYTES);
    const auto put = [&copy](std::size_t at, std::uint32_t value) {
        for (int b = 0; b < 4; ++b) copy[at + b] = static_cast<std::uint8_t>(value >> (8 * b));
    };
    put(12, whole);
    put(20, Word(header_.data() + 20) & ~std::uint32_t{FILE_RING});
    const std::uint8_t* sizes = header_.data() + ZAMB_HEADER_BYTES;
    const std::uint8_t* types = sizes + std::size_t{4} * stored;
    copy.insert(copy.end(), sizes, sizes + std::size_t{4} * whole);
    copy.insert(copy.end(), types, types + whole);
    std::uint64_t rest = Word(header_.data() + 52);
    for (std::uint32_t i = 0; i < whole; ++i) rest += Word(sizes + std::size_t{4} * i);
    // The copy lives in memory; a hostile frame table must not make it take the machine.
    if (rest > kLargestCopy) return false;
    const std::size_t at = copy.size();
    copy.resize(at + static_cast<std::size_t>(rest));
    if (!ReadAt(descriptor_, header_.size(), copy.data() + at, static_cast<std::size_t>(rest)))
        return false;
    return ToolOpenMemory(copy.data(), copy.size(), flags, &movie_);
}

void MovieFile::Close() {
    ToolCloseMovie(&movie_);
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = -1;
}

}  // namespace zmbtool
