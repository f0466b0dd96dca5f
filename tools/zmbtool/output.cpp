// SPDX-License-Identifier: MIT
// zmbtool's output rules: resolving, checking, writing and committing every output.
#include "output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <map>
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

bool& Replacing() {
    static bool replacing = false;
    return replacing;
}

// A folder output as checked: where it is, which names are its own.
struct CheckedFolder {
    std::string path;
    FolderPattern pattern;
    dev_t device = 0;
    ino_t inode = 0;
};

// Everything the run has begun and not yet put in place. The signal handler reads
// `temporaries`; it is changed only while those signals are held back, so the handler never
// sees it half-changed. Never destroyed: a signal may come while the process exits.
struct Transaction {
    std::vector<std::string> temporaries;
    std::vector<std::pair<std::string, std::string>> ready;  // temporary, final name
    std::vector<CheckedFolder> folders;
};
Transaction& Run() {
    static Transaction* run = new Transaction;
    return *run;
}

extern "C" void RemoveTemporariesAndDie(int sig) {
    // unlink is safe in a handler; the list cannot change under it (see Transaction).
    for (const std::string& temporary : Run().temporaries) ::unlink(temporary.c_str());
    // Ends the process by the same signal, so that the caller sees what stopped it.
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

void Forget(std::vector<std::string>& list, const std::string& name) {
    const auto at = std::find(list.begin(), list.end(), name);
    if (at != list.end()) list.erase(at);
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
    if (!Replacing()) return *error = "it exists (--force replaces it)", false;
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
    const bool resolved = Resolve(given, out, &reason);
    // An input is named as such even where the file would be refused for existing.
    if (IsInput(*out)) {
        *error = "will not write " + given + ": it is one of the inputs";
        return false;
    }
    if (!resolved) {
        *error = (out->kind == Kind::RegularFile && !Replacing() ? "will not replace "
                                                                 : "cannot write ") +
                 given + ": " + reason;
        return false;
    }
    return true;
}

std::string IdOf(dev_t device, ino_t inode) {
    return std::to_string(device) + ":" + std::to_string(inode);
}

// Where a file output lands: its folder, as the system knows it (whatever name or link led
// there), and its name in it. Empty for streams, which are never renamed.
struct Place {
    std::string folder;
    std::string name;
};
Place PlaceOf(const Resolved& resolved) {
    if (resolved.kind != Kind::NewFile && resolved.kind != Kind::RegularFile) return {};
    struct stat folder {};
    if (::stat(FolderOf(resolved.path).c_str(), &folder) != 0) return {};
    return {IdOf(folder.st_dev, folder.st_ino),
            std::filesystem::path(resolved.path).filename().string()};
}

// Outputs that are the same file would overwrite each other; character devices such as
// /dev/null can take any number of writers. A file not there yet is known by its place.
std::string IdentityOf(const Resolved& resolved) {
    if (resolved.exists && S_ISCHR(resolved.status.st_mode)) return "";
    if (resolved.exists) return IdOf(resolved.status.st_dev, resolved.status.st_ino);
    const Place place = PlaceOf(resolved);
    return place.folder.empty()
               ? std::filesystem::absolute(resolved.path).lexically_normal().string()
               : place.folder + "/" + place.name;
}

bool AllDigits(const std::string& text, std::size_t from, std::size_t to) {
    if (from >= to) return false;
    for (std::size_t i = from; i < to; ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return true;
}

bool EndsWith(const std::string& text, const char* end) {
    const std::size_t n = std::strlen(end);
    return text.size() >= n && text.compare(text.size() - n, n, end) == 0;
}

bool MatchesPattern(const std::string& name, FolderPattern pattern) {
    if (pattern == FolderPattern::Frames)
        return name.rfind("frame", 0) == 0 && EndsWith(name, ".png") && name.size() >= 14 &&
               AllDigits(name, 5, name.size() - 4);
    const char* extension = pattern == FolderPattern::WavTracks ? ".wav" : ".pcm";
    return name.size() == 10 && name.rfind("track", 0) == 0 && name[5] >= '0' && name[5] <= '6' &&
           EndsWith(name, extension);
}

const char* PatternText(FolderPattern pattern) {
    if (pattern == FolderPattern::Frames) return "frameNNNNN.png";
    return pattern == FolderPattern::WavTracks ? "trackN.wav" : "trackN.pcm";
}

// Without --force a folder output may hold no file of its pattern: the run would replace
// it, or leave an older movie's frames beside the new ones. An input there is never
// replaced.
bool CheckFolderContents(const CheckedFolder& folder, std::string* error) {
    std::error_code failure;
    for (std::filesystem::directory_iterator it(folder.path, failure), end; !failure && it != end;
         it.increment(failure)) {
        const std::string name = it->path().filename().string();
        if (!MatchesPattern(name, folder.pattern)) continue;
        struct stat status {};
        const bool known = ::stat(it->path().c_str(), &status) == 0;
        if (known && Inputs().count({status.st_dev, status.st_ino}) != 0) {
            *error = "will not write into " + folder.path + ": " + name + " is one of the inputs";
            return false;
        }
        if (!Replacing()) {
            *error = "will not replace " + it->path().string() +
                     ": it exists (--force replaces the folder's " + PatternText(folder.pattern) +
                     " files)";
            return false;
        }
    }
    return true;
}

bool CheckFolder(const FolderOutput& output, CheckedFolder* checked, std::string* error) {
    const std::string refusal = FolderRefusal(output.folder);
    if (!refusal.empty())
        return *error = "cannot write into " + output.folder + ": " + refusal, false;
    struct stat status {};
    if (::stat(output.folder.c_str(), &status) != 0)
        return *error = "cannot write into " + output.folder + ": " + Reason(errno), false;
    *checked = {output.folder, output.pattern, status.st_dev, status.st_ino};
    return CheckFolderContents(*checked, error);
}

// Removes the files of FOLDER's pattern that this run did not write (WRITTEN: their names).
void RemoveStaleFiles(const CheckedFolder& folder, const std::set<std::string>& written) {
    std::error_code failure;
    std::vector<std::filesystem::path> stale;
    for (std::filesystem::directory_iterator it(folder.path, failure), end; !failure && it != end;
         it.increment(failure)) {
        const std::string name = it->path().filename().string();
        if (!MatchesPattern(name, folder.pattern) || written.count(name) != 0) continue;
        struct stat status {};
        if (::lstat(it->path().c_str(), &status) != 0 || S_ISDIR(status.st_mode)) continue;
        stale.push_back(it->path());
    }
    for (const std::filesystem::path& path : stale) ::unlink(path.c_str());
}

mode_t NewFileMode() {
    static const mode_t mode = [] {
        const mode_t mask = ::umask(022);
        ::umask(mask);
        return static_cast<mode_t>(0666 & ~mask);
    }();
    return mode;
}

// Creates the temporary beside PATH with the permissions (and, where the process may, the
// owner) the finished file should have, and enters it in the run's transaction.
int CreateTemporary(const Resolved& resolved, std::string* temporary) {
    const std::filesystem::path target(resolved.path);
    std::string name = (FolderOf(resolved.path) + "/.") + target.filename().string() + ".XXXXXX";
    const StoppingSignalsHeld held;
    const int fd = ::mkstemp(name.data());
    if (fd < 0) return fd;
    Run().temporaries.push_back(name);
    const mode_t mode = resolved.exists ? (resolved.status.st_mode & 07777) : NewFileMode();
    // Should these fail, the file keeps the temporary's owner-only mode, or the caller's
    // ownership: still the whole output.
    if (resolved.exists)
        static_cast<void>(::fchown(fd, resolved.status.st_uid, resolved.status.st_gid));
    static_cast<void>(::fchmod(fd, mode));
    *temporary = name;
    return fd;
}

void RemoveTemporary(const std::string& temporary) {
    const StoppingSignalsHeld held;
    ::unlink(temporary.c_str());
    Forget(Run().temporaries, temporary);
    auto& ready = Run().ready;
    ready.erase(std::remove_if(ready.begin(), ready.end(),
                               [&](const auto& entry) { return entry.first == temporary; }),
                ready.end());
}

// Two outputs are one file: the same file, the same place for a new one, or a file inside a
// folder output that the folder's pattern would write too.
bool SameFileRefusal(const std::string& given, const Resolved& resolved,
                     const std::vector<CheckedFolder>& folders, std::set<std::string>* seen,
                     std::string* error) {
    const std::string identity = IdentityOf(resolved);
    if (!identity.empty() && !seen->insert(identity).second) {
        *error = "will not write " + given + " twice in one run";
        return true;
    }
    const Place place = PlaceOf(resolved);
    for (const CheckedFolder& folder : folders) {
        if (place.folder != IdOf(folder.device, folder.inode) ||
            !MatchesPattern(place.name, folder.pattern))
            continue;
        *error = "will not write " + given + ": the output folder " + folder.path +
                 " gets a file of that name";
        return true;
    }
    return false;
}

int OpenStream(const Resolved& resolved) {
    // Regular files reached through /dev or /proc are written from their start, as a shell's
    // `>` would; FIFOs and devices are never truncated or created.
    const int flags = O_WRONLY | O_CLOEXEC | (S_ISREG(resolved.status.st_mode) ? O_TRUNC : 0);
    return ::open(resolved.path.c_str(), flags);
}

}  // namespace

void NoteInput(const std::string& path) {
    struct stat status {};
    if (path == "-" ? ::fstat(STDIN_FILENO, &status) == 0 : ::stat(path.c_str(), &status) == 0)
        Inputs().insert({status.st_dev, status.st_ino});
}

void AllowReplacing(bool allow) {
    Replacing() = allow;
}

bool ReplacingAllowed() {
    return Replacing();
}

void CatchSignals() {
    struct sigaction action {};
    action.sa_handler = RemoveTemporariesAndDie;
    sigemptyset(&action.sa_mask);
    for (int sig : kStoppingSignals) sigaddset(&action.sa_mask, sig);
    for (int sig : kStoppingSignals) {
        struct sigaction before {};
        // A signal the caller chose to ignore (nohup) stays ignored.
        if (sigaction(sig, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) continue;
        sigaction(sig, &action, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN);
}

bool CheckOutputs(const std::vector<std::string>& outputs, const std::vector<FolderOutput>& folders,
                  std::string* error) {
    std::vector<CheckedFolder> checked;
    for (const FolderOutput& folder : folders) {
        CheckedFolder one;
        if (!CheckFolder(folder, &one, error)) return false;
        checked.push_back(one);
    }
    std::set<std::string> seen;
    for (const std::string& given : outputs) {
        Resolved resolved;
        if (!ResolveOutput(given, &resolved, error)) return false;
        if (SameFileRefusal(given, resolved, checked, &seen, error)) return false;
    }
    auto& kept = Run().folders;
    kept.insert(kept.end(), checked.begin(), checked.end());
    return true;
}

namespace {

// What a rename into place replaced, so that a later failure can put it back.
struct Replaced {
    std::string target;
    std::string backup;  // a second name of the old file; empty when there is none
    bool wasNew = false;
};

bool PutInPlace(const std::string& temporary, const std::string& target,
                std::vector<Replaced>* done, std::string* error) {
    Replaced entry{target, temporary + ".old", false};
    if (::link(target.c_str(), entry.backup.c_str()) != 0) {
        entry.wasNew = errno == ENOENT;
        entry.backup.clear();
    }
    if (std::rename(temporary.c_str(), target.c_str()) != 0) {
        *error = "cannot write " + target + ": " + Reason(errno);
        if (!entry.backup.empty()) ::unlink(entry.backup.c_str());
        return false;
    }
    done->push_back(entry);
    return true;
}

// Puts back every old file the renames replaced, and removes the new ones that had none.
void Undo(const std::vector<Replaced>& done) {
    for (auto it = done.rbegin(); it != done.rend(); ++it) {
        if (!it->backup.empty())
            ::rename(it->backup.c_str(), it->target.c_str());
        else if (it->wasNew)
            ::unlink(it->target.c_str());
    }
}

}  // namespace

bool CommitOutputs(std::string* error) {
    const StoppingSignalsHeld held;
    Transaction& run = Run();
    std::vector<Replaced> done;
    bool ok = true;
    for (const auto& [temporary, target] : run.ready)
        if (!(ok = PutInPlace(temporary, target, &done, error))) break;
    run.ready.clear();
    for (const std::string& temporary : run.temporaries) ::unlink(temporary.c_str());
    run.temporaries.clear();
    if (!ok) {
        Undo(done);
        return false;
    }
    std::map<std::string, std::set<std::string>> written;  // folder id -> names
    for (const Replaced& entry : done) {
        if (!entry.backup.empty()) ::unlink(entry.backup.c_str());
        struct stat folder {};
        if (::stat(FolderOf(entry.target).c_str(), &folder) == 0)
            written[IdOf(folder.st_dev, folder.st_ino)].insert(
                std::filesystem::path(entry.target).filename().string());
    }
    if (Replacing())
        for (const CheckedFolder& folder : run.folders)
            RemoveStaleFiles(folder, written[IdOf(folder.device, folder.inode)]);
    // Done once: a later commit of the same run has nothing of these folders to replace.
    run.folders.clear();
    return true;
}

void AbandonOutputsIn(const std::string& folder) {
    struct stat place {};
    if (::stat(folder.c_str(), &place) != 0) return;
    const StoppingSignalsHeld held;
    auto& ready = Run().ready;
    for (auto it = ready.begin(); it != ready.end();) {
        struct stat status {};
        if (::stat(FolderOf(it->second).c_str(), &status) != 0 || status.st_dev != place.st_dev ||
            status.st_ino != place.st_ino) {
            ++it;
            continue;
        }
        ::unlink(it->first.c_str());
        Forget(Run().temporaries, it->first);
        it = ready.erase(it);
    }
}

void AbandonOutputs() {
    const StoppingSignalsHeld held;
    for (const std::string& temporary : Run().temporaries) ::unlink(temporary.c_str());
    Run().temporaries.clear();
    Run().ready.clear();
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
        if (!temporary_.empty()) RemoveTemporary(temporary_);
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
    if (!ok && !failed_) writeError_ = errno != 0 ? errno : EIO;
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
    if (ok && !stream_) {
        const StoppingSignalsHeld held;
        Run().ready.emplace_back(temporary_, path_);
    }
    if (!ok && !stream_) RemoveTemporary(temporary_);
    temporary_.clear();
    // A failure the system gave no reason for is still reported with one.
    if (!ok) *error = "cannot write " + given_ + ": " + Reason(reason != 0 ? reason : EIO);
    return ok;
}

std::string OutputFile::Failure() const {
    return "cannot write " + given_ + ": " + Reason(writeError_ != 0 ? writeError_ : EIO);
}

void OutputFile::Discard() {
    if (file_ == nullptr) return;
    std::FILE* file = std::exchange(file_, nullptr);
    if (stream_) std::fflush(file);
    if (ownsStream_) std::fclose(file);
    if (!stream_) RemoveTemporary(temporary_);
    temporary_.clear();
}

}  // namespace zmbtool
