// SPDX-License-Identifier: MIT
// zmbtool's output rules: resolving, checking, writing and committing every output.
#include "output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <set>
#include <utility>

namespace zmbtool {

namespace {

// Symlink chains longer than this are loops in all but name; the system gives up at 40 too.
constexpr int kMostLinks = 40;
// Outputs are written in large pieces: pictures are hundreds of kilobytes a frame.
constexpr std::size_t kBufferBytes = 1u << 18;

using FileId = std::pair<dev_t, ino_t>;

std::set<FileId>& Inputs() {
    static std::set<FileId> inputs;
    return inputs;
}

std::string& WriteFailure() {
    static std::string failure;
    return failure;
}

enum class Kind { NewFile, RegularFile, Stream, StandardOutput };

struct Resolved {
    Kind kind = Kind::NewFile;
    std::string path;  // the file written: the end of any symlink chain
    bool exists = false;
    struct stat status {};
};

std::string Reason(int error) {
    return std::strerror(error);
}

std::string FolderOf(const std::string& path) {
    const std::string folder = std::filesystem::path(path).parent_path().string();
    return folder.empty() ? "." : folder;
}

bool Under(const std::string& path, const char* prefix) {
    return path.rfind(prefix, 0) == 0;
}

// Follows PATH's own symlinks (not those of its folders, which the system follows anyway)
// to the name finally written. VIA_DEVICES tells whether the chain passed through /dev or
// /proc, whose names (/dev/stdout, /proc/self/fd/1) stand for an open stream, not a file.
bool FollowLinks(const std::string& given, std::string* path, bool* viaDevices,
                 std::string* error) {
    std::string current = given;
    *viaDevices = Under(current, "/dev/") || Under(current, "/proc/");
    for (int hop = 0; hop < kMostLinks; ++hop) {
        struct stat link {};
        if (::lstat(current.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) {
            *path = current;
            return true;
        }
        std::vector<char> target(static_cast<std::size_t>(link.st_size > 0 ? link.st_size : 255) +
                                 1);
        const ssize_t length = ::readlink(current.c_str(), target.data(), target.size());
        if (length < 0 || static_cast<std::size_t>(length) >= target.size()) {
            *error = "cannot follow the link: " + Reason(length < 0 ? errno : ENAMETOOLONG);
            return false;
        }
        const std::string next(target.data(), static_cast<std::size_t>(length));
        current = next[0] == '/' ? next : FolderOf(current) + "/" + next;
        *viaDevices = *viaDevices || Under(current, "/dev/") || Under(current, "/proc/");
    }
    *error = "too many symlinks";
    return false;
}

constexpr char kNoSuchFolder[] = "no such folder";

// Empty when `folder` is a folder that takes new files; otherwise kNoSuchFolder, or the
// system's reason why it takes none.
std::string FolderRefusal(const std::string& folder) {
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return kNoSuchFolder;
    if (::access(folder.c_str(), W_OK | X_OK) != 0) return Reason(errno);
    return "";
}

// A renamed-into-place file needs a folder that takes new files.
bool FolderTakesFiles(const std::string& path, std::string* error) {
    const std::string folder = FolderOf(path);
    const std::string refusal = FolderRefusal(folder);
    if (refusal.empty()) return true;
    *error = refusal == kNoSuchFolder
                 ? "no such folder " + folder
                 : "the folder " + folder + " does not take new files: " + refusal;
    return false;
}

// What an existing non-regular path is: a stream written in place, or refused.
bool ClassifySpecial(const struct stat& status, Resolved* out, std::string* error) {
    if (S_ISDIR(status.st_mode)) return *error = "it is a folder", false;
    if (S_ISBLK(status.st_mode))
        return *error = "it is a block device; zmbtool does not write to disks", false;
    if (S_ISFIFO(status.st_mode) || S_ISCHR(status.st_mode)) return out->kind = Kind::Stream, true;
    *error = "it is neither a file, a FIFO nor a character device";
    return false;
}

bool ResolveExisting(const std::string& given, Resolved* out, std::string* error) {
    if (!S_ISREG(out->status.st_mode)) return ClassifySpecial(out->status, out, error);
    bool viaDevices = false;
    if (!FollowLinks(given, &out->path, &viaDevices, error)) return false;
    if (viaDevices) {
        // /dev/stdout and its kind name the stream the caller set up, not a file to replace.
        out->kind = Kind::Stream;
        out->path = given;
        return true;
    }
    out->kind = Kind::RegularFile;
    if (::access(out->path.c_str(), W_OK) != 0) {
        *error = "cannot write it: " + Reason(errno);
        return false;
    }
    return FolderTakesFiles(out->path, error);
}

bool ResolveNew(const std::string& given, Resolved* out, std::string* error) {
    bool viaDevices = false;
    if (!FollowLinks(given, &out->path, &viaDevices, error)) return false;
    if (viaDevices) {
        *error = "no such device";
        return false;
    }
    out->kind = Kind::NewFile;
    return FolderTakesFiles(out->path, error);
}

bool Resolve(const std::string& given, Resolved* out, std::string* error) {
    if (given.empty()) return *error = "an empty name", false;
    out->path = given;
    if (given == "-") {
        out->kind = Kind::StandardOutput;
        out->exists = ::fstat(STDOUT_FILENO, &out->status) == 0;
        if (!out->exists) return *error = "standard output is closed", false;
        // Pictures and sound on a terminal are only noise, and can leave it unusable.
        if (::isatty(STDOUT_FILENO))
            return *error = "standard output is a terminal (redirect or pipe it)", false;
        return true;
    }
    if (::stat(given.c_str(), &out->status) == 0) {
        out->exists = true;
        return ResolveExisting(given, out, error);
    }
    if (errno != ENOENT) return *error = Reason(errno), false;
    return ResolveNew(given, out, error);
}

bool IsInput(const Resolved& resolved) {
    return resolved.exists && Inputs().count({resolved.status.st_dev, resolved.status.st_ino}) != 0;
}

// Resolves GIVEN and refuses it when it is one of the inputs; ERROR is the full line.
bool ResolveOutput(const std::string& given, Resolved* out, std::string* error) {
    std::string reason;
    if (!Resolve(given, out, &reason)) {
        *error = "cannot write " + given + ": " + reason;
        return false;
    }
    if (IsInput(*out)) {
        *error = "will not write " + given + ": it is one of the inputs";
        return false;
    }
    return true;
}

// Outputs that are the same file would overwrite each other; character devices such as
// /dev/null can take any number of writers.
std::string IdentityOf(const Resolved& resolved) {
    if (resolved.exists && S_ISCHR(resolved.status.st_mode)) return "";
    if (resolved.exists)
        return std::to_string(resolved.status.st_dev) + ":" +
               std::to_string(resolved.status.st_ino);
    return std::filesystem::absolute(resolved.path).lexically_normal().string();
}

mode_t NewFileMode() {
    static const mode_t mode = [] {
        const mode_t mask = ::umask(022);
        ::umask(mask);
        return static_cast<mode_t>(0666 & ~mask);
    }();
    return mode;
}

// Creates the temporary beside PATH with the permissions the finished file should have.
int CreateTemporary(const Resolved& resolved, std::string* temporary) {
    const std::filesystem::path target(resolved.path);
    std::string name = (FolderOf(resolved.path) + "/.") + target.filename().string() + ".XXXXXX";
    const int fd = ::mkstemp(name.data());
    if (fd < 0) return fd;
    const mode_t mode = resolved.exists ? (resolved.status.st_mode & 07777) : NewFileMode();
    // Should this fail, the file keeps the temporary's owner-only mode: still the whole output.
    static_cast<void>(::fchmod(fd, mode));
    *temporary = name;
    return fd;
}

int OpenStream(const Resolved& resolved) {
    // Regular files reached through /dev or /proc are written from their start, as a shell's
    // `>` would; FIFOs and devices are never truncated or created.
    const int flags = O_WRONLY | O_CLOEXEC | (S_ISREG(resolved.status.st_mode) ? O_TRUNC : 0);
    return ::open(resolved.path.c_str(), flags);
}

}  // namespace

const std::string& FirstWriteFailure() {
    return WriteFailure();
}

void NoteInput(const std::string& path) {
    struct stat status {};
    if (path == "-" ? ::fstat(STDIN_FILENO, &status) == 0 : ::stat(path.c_str(), &status) == 0)
        Inputs().insert({status.st_dev, status.st_ino});
}

bool CheckOutputs(const std::vector<std::string>& outputs, std::string* error) {
    std::set<std::string> seen;
    for (const std::string& given : outputs) {
        Resolved resolved;
        if (!ResolveOutput(given, &resolved, error)) return false;
        const std::string identity = IdentityOf(resolved);
        if (!identity.empty() && !seen.insert(identity).second) {
            *error = "will not write " + given + " twice in one run";
            return false;
        }
    }
    return true;
}

bool CheckOutputFolder(const std::string& folder, std::string* error) {
    const std::string refusal = FolderRefusal(folder);
    if (!refusal.empty()) *error = "cannot write into " + folder + ": " + refusal;
    return refusal.empty();
}

OutputFile::~OutputFile() {
    Discard();
}

bool OutputFile::Open(const std::string& path, std::string* error) {
    Discard();
    given_ = path;
    failed_ = false;
    writeError_ = 0;
    Resolved resolved;
    if (!ResolveOutput(path, &resolved, error)) return false;
    path_ = resolved.path;
    stream_ = resolved.kind == Kind::Stream || resolved.kind == Kind::StandardOutput;
    if (stream_) {
        // A reader that goes away should end the run with a message, not a silent signal.
        std::signal(SIGPIPE, SIG_IGN);
    }
    int fd = -1;
    if (resolved.kind == Kind::StandardOutput) {
        file_ = stdout;
        ownsStream_ = false;
    } else {
        fd = stream_ ? OpenStream(resolved) : CreateTemporary(resolved, &temporary_);
        file_ = fd < 0 ? nullptr : ::fdopen(fd, "wb");
        ownsStream_ = true;
    }
    if (file_ == nullptr) {
        *error = "cannot write " + path + ": " + Reason(errno);
        if (fd >= 0) ::close(fd);
        if (!temporary_.empty()) ::unlink(temporary_.c_str());
        temporary_.clear();
        return false;
    }
    std::setvbuf(file_, nullptr, _IOFBF, kBufferBytes);
    return true;
}

bool OutputFile::Write(const void* data, std::size_t size) {
    if (file_ == nullptr || size == 0) return true;
    if (std::fwrite(data, 1, size, file_) == size) return true;
    if (!failed_) writeError_ = errno;
    failed_ = true;
    if (WriteFailure().empty())
        WriteFailure() = "cannot write " + given_ + ": " + Reason(writeError_);
    return false;
}

void OutputFile::MarkExecutable() {
    if (file_ == nullptr || stream_) return;
    static_cast<void>(::fchmod(::fileno(file_), NewFileMode() | (0111 & NewFileMode() >> 2)));
}

bool OutputFile::Overwrite(std::uint64_t offset, const void* data, std::size_t size) {
    if (file_ == nullptr || stream_) return false;
    const bool ok = std::fflush(file_) == 0 &&
                    ::fseeko(file_, static_cast<off_t>(offset), SEEK_SET) == 0 &&
                    std::fwrite(data, 1, size, file_) == size && ::fseeko(file_, 0, SEEK_END) == 0;
    failed_ = failed_ || !ok;
    return ok;
}

bool OutputFile::Commit(std::string* error) {
    if (file_ == nullptr) return true;
    std::FILE* file = std::exchange(file_, nullptr);
    errno = 0;
    bool ok = !failed_ && std::fflush(file) == 0 && std::ferror(file) == 0;
    int reason = failed_ ? writeError_ : errno;
    if (ownsStream_ && std::fclose(file) != 0 && ok) ok = false, reason = errno;
    if (ok && !stream_ && std::rename(temporary_.c_str(), path_.c_str()) != 0)
        ok = false, reason = errno;
    if (!ok && !stream_) ::unlink(temporary_.c_str());
    temporary_.clear();
    if (!ok) *error = "cannot write " + given_ + (reason ? ": " + Reason(reason) : "");
    return ok;
}

void OutputFile::Discard() {
    if (file_ == nullptr) return;
    std::FILE* file = std::exchange(file_, nullptr);
    if (stream_) std::fflush(file);
    if (ownsStream_) std::fclose(file);
    if (!stream_) ::unlink(temporary_.c_str());
    temporary_.clear();
}

}  // namespace zmbtool
