// SPDX-License-Identifier: MIT
// Names as the user gave them: a file that exists under its exact name is played as it is,
// whatever the command line's own rules (the added extension, '\' between folders) would
// make of it, and a pipe is read whole so the decoder can seek in it.
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "player/argument_names.h"
#include "player/messages.h"
#include "platform/standin/kernel/seams.h"
#include "core/movie_names.h"

namespace {

constexpr char kStandardInput[] = "-";

// The command line writes '/' as '\'; a name that stood in for an argument is that
// argument already.
std::string PosixName(const char* name, bool exact) {
    std::string path(name);
    if (exact) return path;
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_;
};

int OpenForReading(const std::string& path) {
    if (path == kStandardInput) return ::dup(STDIN_FILENO);
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

std::string Reason(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return "not found";
        case EACCES:
        case EPERM:
            return "permission denied";
        case EISDIR:
            return "a folder, not a movie";
        default:
            return std::strerror(error);
    }
}

GivenName Refused(std::string why) {
    GivenName given;
    given.How = GivenName::Kind::Refused;
    given.Why = std::move(why);
    return given;
}

// The whole stream in memory, or a refusal when it is larger than the limit or fails.
GivenName ReadWhole(Descriptor& input) {
    std::vector<char> bytes;
    char block[65536];
    for (;;) {
        const ssize_t got = ::read(input.Get(), block, sizeof block);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return Refused("cannot be read: " + std::string(std::strerror(errno)));
        if (got == 0) break;
        if (bytes.size() + static_cast<std::size_t>(got) > kGivenStreamLimit)
            return Refused("a stream longer than " + std::to_string(kGivenStreamLimit >> 20) +
                           " MiB, more than is read into memory; play it from a file");
        bytes.insert(bytes.end(), block, block + got);
    }
    GivenName given;
    given.How = GivenName::Kind::ByHandle;
    given.Handle = standin::OpenMemoryFile(bytes.data(), bytes.size());
    return given;
}

}  // namespace

GivenName OpenGivenName(const char* name, bool exact) {
    const std::string path = PosixName(name, exact);
    struct stat status {};
    if (path != kStandardInput && ::stat(path.c_str(), &status) != 0) return {};
    Descriptor input(OpenForReading(path));
    if (input.Get() < 0) return Refused(Reason(errno));
    if (::fstat(input.Get(), &status) != 0) return Refused(Reason(errno));
    if (S_ISDIR(status.st_mode)) return Refused(Reason(EISDIR));
    const bool seekable = S_ISREG(status.st_mode) && ::lseek(input.Get(), 0, SEEK_SET) == 0;
    if (!seekable) return ReadWhole(input);
    // The platform's open turns every '\' into '/', which is the way back from the command
    // line's form; a name given with a '\' of its own would come out as another name.
    if (path != kStandardInput && (!exact || path.find('\\') == std::string::npos)) {
        GivenName given;
        given.How = GivenName::Kind::ByName;
        return given;
    }
    GivenName given;
    given.How = GivenName::Kind::ByHandle;
    given.Handle = standin::AdoptFileDescriptor(input.Release());
    return given;
}

// The platform's open finds a name that is missing as written under any case, as a
// case-insensitive file system would; the reason must be told of the file it found.
std::string FoundIgnoringCase(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string leaf = slash == std::string::npos ? path : path.substr(slash + 1);
    DIR* entries = ::opendir(folder.c_str());
    if (!entries) return path;
    std::string found = path;
    while (const dirent* entry = ::readdir(entries)) {
        if (::strcasecmp(entry->d_name, leaf.c_str()) == 0) {
            found = (slash == std::string::npos ? "" : folder) + entry->d_name;
            break;
        }
    }
    ::closedir(entries);
    return found;
}

std::string NameAsGiven(const char* name, bool exact) {
    return PosixName(name, exact);
}

std::string MovieCaption(const std::string& shown_name) {
    return shown_name + " - " + kApplicationName;
}

std::string WhyNotOpened(const char* name, bool exact) {
    std::string path = PosixName(name, exact);
    if (path == kStandardInput) return "the standard input holds no movie";
    if (::access(path.c_str(), F_OK) != 0 && !exact) path = FoundIgnoringCase(path);
    Descriptor input(OpenForReading(path));
    if (input.Get() < 0) return Reason(errno);
    struct stat status {};
    if (::fstat(input.Get(), &status) == 0 && S_ISDIR(status.st_mode)) return Reason(EISDIR);
    char header[ZAMB_HEADER_BYTES];
    ssize_t got;
    do {
        got = ::read(input.Get(), header, sizeof header);
    } while (got < 0 && errno == EINTR);
    if (got < 0) return "cannot be read: " + std::string(std::strerror(errno));
    if (got == 0) return "an empty file, not a movie";
    if (got < ZAMB_MAGIC_BYTES || std::memcmp(header, ZAMB_MAGIC, ZAMB_MAGIC_BYTES) != 0)
        return "not a Zambrel movie";
    return "a Zambrel movie damaged or cut short before its first frame";
}
