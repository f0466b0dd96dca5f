// SPDX-License-Identifier: MIT
// File handles over POSIX descriptors or memory, with Windows path conventions.
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/standin/kernel/kernel.h"
#include "platform/standin/kernel/seams.h"

namespace {

class FileObject {
  public:
    virtual ~FileObject() = default;
    // Reads up to count bytes at the current position; false on an error.
    virtual bool Read(void* buffer, DWORD count, DWORD* got) = 0;
    // Moves to an absolute position; false when the position is not reachable.
    virtual bool Seek(std::int64_t position) = 0;
    virtual std::int64_t Position() const = 0;
    virtual std::int64_t Size() const = 0;
};

class DescriptorFile final : public FileObject {
  public:
    explicit DescriptorFile(int fd) : fd_(fd) {}
    ~DescriptorFile() override { ::close(fd_); }
    bool Read(void* buffer, DWORD count, DWORD* got) override {
        auto* out = static_cast<char*>(buffer);
        DWORD total = 0;
        while (total < count) {
            ssize_t n = ::read(fd_, out + total, count - total);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                *got = total;
                return false;
            }
            if (n == 0) break;
            total += static_cast<DWORD>(n);
        }
        *got = total;
        return true;
    }
    bool Seek(std::int64_t position) override {
        return ::lseek(fd_, static_cast<off_t>(position), SEEK_SET) >= 0;
    }
    std::int64_t Position() const override { return ::lseek(fd_, 0, SEEK_CUR); }
    std::int64_t Size() const override {
        off_t here = ::lseek(fd_, 0, SEEK_CUR);
        off_t end = ::lseek(fd_, 0, SEEK_END);
        ::lseek(fd_, here, SEEK_SET);
        return end;
    }

  private:
    int fd_;
};

class MemoryFile final : public FileObject {
  public:
    MemoryFile(const void* data, std::size_t size)
        : bytes_(static_cast<const char*>(data), static_cast<const char*>(data) + size) {}
    bool Read(void* buffer, DWORD count, DWORD* got) override {
        std::int64_t left = std::max<std::int64_t>(0, Size() - position_);
        DWORD n = static_cast<DWORD>(std::min<std::int64_t>(left, count));
        if (n > 0) std::memcpy(buffer, bytes_.data() + position_, n);
        position_ += n;
        *got = n;
        return true;
    }
    bool Seek(std::int64_t position) override {
        position_ = position;
        return true;
    }
    std::int64_t Position() const override { return position_; }
    std::int64_t Size() const override { return static_cast<std::int64_t>(bytes_.size()); }

  private:
    std::vector<char> bytes_;
    std::int64_t position_ = 0;
};

// Handles are the addresses of their objects, known only while registered here, so a
// stale or foreign handle is refused instead of being followed.
std::mutex handleLock;
std::unordered_map<HANDLE, std::unique_ptr<FileObject>>& Handles() {
    static std::unordered_map<HANDLE, std::unique_ptr<FileObject>> handles;
    return handles;
}
thread_local DWORD lastError = 0;

HANDLE Register(std::unique_ptr<FileObject> file) {
    HANDLE handle = file.get();
    std::lock_guard<std::mutex> guard(handleLock);
    Handles().emplace(handle, std::move(file));
    return handle;
}

FileObject* Find(HANDLE handle) {
    std::lock_guard<std::mutex> guard(handleLock);
    auto it = Handles().find(handle);
    return it == Handles().end() ? nullptr : it->second.get();
}

std::string PosixPath(const char* name) {
    std::string path(name);
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

// When the exact name does not exist, the first entry of its folder that matches it
// ignoring case, as a case-insensitive file system would find it.
std::string MatchIgnoringCase(const std::string& path) {
    std::size_t slash = path.rfind('/');
    std::string prefix = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string leaf = path.substr(prefix.size());
    DIR* dir = ::opendir(prefix.empty() ? "." : prefix.c_str());
    if (!dir) return path;
    std::string found = path;
    while (dirent* entry = ::readdir(dir)) {
        if (::strcasecmp(entry->d_name, leaf.c_str()) == 0) {
            found = prefix + std::string(entry->d_name);
            break;
        }
    }
    ::closedir(dir);
    return found;
}

int OpenForReading(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT)
        fd = ::open(MatchIgnoringCase(path).c_str(), O_RDONLY | O_CLOEXEC);
    return fd;
}

}  // namespace

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                          DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE) {
    if (!fileName || (desiredAccess & GENERIC_WRITE) || creationDisposition != OPEN_EXISTING) {
        lastError = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    int fd = OpenForReading(PosixPath(fileName));
    if (fd < 0) {
        lastError = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    if (flagsAndAttributes & FILE_FLAG_SEQUENTIAL_SCAN)
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return Register(std::make_unique<DescriptorFile>(fd));
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
                     LPOVERLAPPED) {
    DWORD got = 0;
    FileObject* object = Find(file);
    bool ok = object && (bytesToRead == 0 || buffer) && object->Read(buffer, bytesToRead, &got);
    if (bytesRead) *bytesRead = got;
    if (!ok) lastError = object ? ERROR_READ_FAULT : ERROR_INVALID_HANDLE;
    return ok ? TRUE : FALSE;
}

DWORD WINAPI SetFilePointer(HANDLE file, LONG distanceToMove, PLONG distanceToMoveHigh,
                            DWORD moveMethod) {
    FileObject* object = Find(file);
    if (!object) {
        lastError = ERROR_INVALID_HANDLE;
        return INVALID_SET_FILE_POINTER;
    }
    // Without the high word the distance is a signed 32-bit number, as on Windows.
    std::int64_t distance = distanceToMove;
    if (distanceToMoveHigh)
        distance = static_cast<std::int64_t>(
            (static_cast<std::uint64_t>(static_cast<std::uint32_t>(*distanceToMoveHigh)) << 32) |
            static_cast<std::uint32_t>(distanceToMove));
    std::int64_t base = 0;
    if (moveMethod == FILE_CURRENT) base = object->Position();
    if (moveMethod == FILE_END) base = object->Size();
    std::int64_t target = base + distance;
    if (target < 0 || !object->Seek(target)) {
        lastError = ERROR_INVALID_HANDLE;
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceToMoveHigh) *distanceToMoveHigh = static_cast<LONG>(target >> 32);
    return static_cast<DWORD>(target);
}

BOOL WINAPI CloseHandle(HANDLE object) {
    std::lock_guard<std::mutex> guard(handleLock);
    if (Handles().erase(object) == 0) {
        lastError = ERROR_INVALID_HANDLE;
        return FALSE;
    }
    return TRUE;
}

DWORD WINAPI GetLastError() {
    return lastError;
}
void WINAPI SetLastError(DWORD error) {
    lastError = error;
}

namespace standin {

HANDLE OpenMemoryFile(const void* data, std::size_t size) {
    return Register(std::make_unique<MemoryFile>(data, size));
}

HANDLE AdoptFileDescriptor(int fd) {
    if (fd < 0) return INVALID_HANDLE_VALUE;
    return Register(std::make_unique<DescriptorFile>(fd));
}

}  // namespace standin
