// SPDX-License-Identifier: MIT
// Scratch storage for a movie written in two passes, in memory or in a file.
#include "encoder/spool.h"

#include <cerrno>
#include <cstring>

namespace zambrel::encoder {

bool MemorySpool::Write(const std::uint8_t* data, std::size_t size) {
    bytes_.insert(bytes_.end(), data, data + size);
    return true;
}

bool MemorySpool::Rewind() {
    readAt_ = 0;
    return true;
}

bool MemorySpool::Read(std::uint8_t* data, std::size_t size) {
    if (size > bytes_.size() - readAt_) return false;
    std::memcpy(data, bytes_.data() + readAt_, size);
    readAt_ += size;
    return true;
}

std::string MemorySpool::Failure() const {
    return "the scratch data ended early";
}

bool FileSpool::Write(const std::uint8_t* data, std::size_t size) {
    return std::fwrite(data, 1, size, file_) == size || Failed(false);
}

bool FileSpool::Rewind() {
    // A write that the buffer still held fails here, not silently later.
    return (std::fflush(file_) == 0 && std::fseek(file_, 0, SEEK_SET) == 0) || Failed(false);
}

bool FileSpool::Read(std::uint8_t* data, std::size_t size) {
    return std::fread(data, 1, size, file_) == size || Failed(true);
}

bool FileSpool::Failed(bool reading) {
    error_ = errno;
    shortRead_ = reading && !std::ferror(file_);
    return false;
}

std::string FileSpool::Failure() const {
    if (shortRead_) return name_ + " ended early";
    return "cannot use " + name_ + ": " +
           (error_ != 0 ? std::strerror(error_) : "input/output error");
}

}  // namespace zambrel::encoder
