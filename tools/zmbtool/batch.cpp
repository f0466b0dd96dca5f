// SPDX-License-Identifier: MIT
// zmbtool decode of several movies: one child process per movie, at most -j at once.
#include "batch.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "command.h"
#include "output.h"

namespace zmbtool {

namespace {

namespace fs = std::filesystem;

// More at once only queues for the same processors and disks.
constexpr unsigned kMostJobs = 1024;
// What a child that could not start zmbtool at all ends with, as a shell's own.
constexpr int kCannotRun = 127;

// How a folder output names each movie's output: a file of the movie's name and this
// extension, or, where the output is a folder for one movie, a folder of the movie's name.
struct NamedOutput {
    const char* option;
    const char* extension;  // nullptr: a folder per movie
};
constexpr NamedOutput kNamedOutputs[] = {
    {"--webm", ".webm"},   {"--webp", ".webp"}, {"--gif", ".gif"},  {"--y4m", ".y4m"},
    {"--rgb24", ".rgb24"}, {"--rgba", ".rgba"}, {"--raw", ".raw"},  {"--wav", ".wav"},
    {"--rects", ".rects"}, {"--png", nullptr},  {"--pcm", nullptr},
};

const NamedOutput* NamedOutputOf(const std::string& option) {
    for (const NamedOutput& output : kNamedOutputs)
        if (option == output.option) return &output;
    return nullptr;
}

struct GivenOutput {
    const NamedOutput* kind;
    std::string folder;
};

// A movie of the run, and the name its outputs get: its own name without the extension, or
// with -r its path from the folder it was found in, so that a.zmb in two folders differ.
struct FoundMovie {
    std::string path;
    std::string name;
};

// One movie's run: its command line, the folders to make for it first (each after the one
// it is in) and its outputs, each with whether it is a folder.
struct MoviePlan {
    std::string movie;
    std::vector<std::string> args;  // after the program's name
    std::vector<std::string> folders;
    std::vector<std::pair<std::string, bool>> outputs;
};

// The children running, for the signal handler: it may read these at any moment, so they
// change only while the forwarded signals are held back.
pid_t runningChildren[kMostJobs];
volatile std::sig_atomic_t stopSignal = 0;

extern "C" void ForwardToChildren(int sig) {
    stopSignal = sig;
    for (pid_t pid : runningChildren)
        if (pid > 0) ::kill(pid, sig);
}

// While several movies run, a stopping signal is passed to every child (each removes its
// own temporaries) and no further movie starts. Signals the caller ignores stay ignored.
class SignalForwarding {
  public:
    SignalForwarding() {
        struct sigaction forward {};
        forward.sa_handler = ForwardToChildren;
        sigemptyset(&forward.sa_mask);
        for (int sig : kStoppingSignals) sigaddset(&forward.sa_mask, sig);
        for (std::size_t i = 0; i < std::size(kStoppingSignals); ++i) {
            sigaction(kStoppingSignals[i], nullptr, &before_[i]);
            if (before_[i].sa_handler != SIG_IGN) sigaction(kStoppingSignals[i], &forward, nullptr);
        }
    }
    ~SignalForwarding() {
        for (std::size_t i = 0; i < std::size(kStoppingSignals); ++i)
            sigaction(kStoppingSignals[i], &before_[i], nullptr);
    }
    SignalForwarding(const SignalForwarding&) = delete;
    SignalForwarding& operator=(const SignalForwarding&) = delete;

  private:
    struct sigaction before_[std::size(kStoppingSignals)]{};
};

int Refuse(const std::string& message) {
    return Fail("decode: " + message);
}

bool IsFolder(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// Splits decode's arguments into the outputs, which each movie gets named for it, and the
// rest, which every movie's run takes as they are. -j only concerns this process.
void SplitArguments(const BatchRequest& request, std::vector<GivenOutput>* outputs,
                    std::vector<std::string>* shared) {
    const std::vector<std::string>& args = request.args;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& owner = request.owners[i];
        if (owner.empty() || owner == "-j" || owner == "--jobs" || owner == "-r" ||
            owner == "--recursive")
            continue;
        const NamedOutput* kind = NamedOutputOf(owner);
        if (kind == nullptr) {
            shared->push_back(args[i]);
            continue;
        }
        // The value follows the option, or its '='.
        const std::size_t equals = args[i].find('=');
        if (equals != std::string::npos && args[i].rfind("--", 0) == 0)
            outputs->push_back({kind, args[i].substr(equals + 1)});
        else if (args[i] == kind->option && i + 1 < args.size())
            outputs->push_back({kind, args[++i]});
    }
}

// Several movies need folders to share: a file or a stream would get them all.
int CheckFolders(const std::vector<GivenOutput>& outputs, const std::string& movies) {
    if (outputs.empty()) return Refuse("no output given (see zmbtool decode --help)");
    for (const GivenOutput& output : outputs) {
        const std::string option = output.kind->option;
        if (output.folder == "-")
            return Refuse(movies + ", " + option +
                          " cannot be standard output; give a folder for them");
        if (!IsFolder(output.folder))
            return Refuse(movies + ", " + option +
                          " needs an existing folder for one output per movie; " + output.folder +
                          " is not one");
    }
    return 0;
}

// Outputs are named after the movies, so two movies of one name would write the same files.
int CheckNames(const std::vector<FoundMovie>& movies) {
    std::map<std::string, std::string> byName;
    for (const FoundMovie& movie : movies) {
        if (fs::path(movie.name).filename().empty())
            return Refuse("cannot name an output after " + movie.path);
        const auto [at, added] = byName.emplace(movie.name, movie.path);
        if (!added)
            return Refuse(at->second + " and " + movie.path + " would both write outputs named " +
                          movie.name + "; decode them into different folders");
    }
    return 0;
}

// A name as a line shows it: one with a newline or other control character in it would
// otherwise read as two lines, or move the terminal's cursor.
std::string Shown(const std::string& name) {
    std::string shown;
    for (const char c : name) {
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F && c != '\\') {
            shown += c;
            continue;
        }
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(c));
        shown += c == '\n' ? "\\n" : c == '\t' ? "\\t" : c == '\\' ? "\\\\" : escape;
    }
    return shown;
}

using FolderId = std::pair<dev_t, ino_t>;

bool IsMovieName(const fs::path& path) {
    std::string extension = path.extension().string();
    for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return extension == ".zmb" && path.stem().string().find_first_not_of('.') != std::string::npos;
}

// The folders a walk has been through, and the output folders, which it never enters.
struct Walked {
    std::set<FolderId> folders, outputs;
};

// Walks FOLDER's tree in name order for movies, following links to folders, since archives
// are often gathered by them, but never into a folder already walked (a link loop, or two
// links to one folder) nor into an output folder: both are said. False when a folder cannot
// be read: its movies would be missed without a word.
bool Walk(const fs::path& folder, const fs::path& relative, Walked* walked,
          std::vector<FoundMovie>* found) {
    std::error_code failure;
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(folder, failure), end; !failure && it != end;
         it.increment(failure))
        entries.push_back(it->path());
    if (failure) {
        Refuse("cannot read the folder " + folder.string() + ": " + failure.message());
        return false;
    }
    std::sort(entries.begin(), entries.end());
    for (const fs::path& entry : entries) {
        struct stat status {};
        if (::stat(entry.c_str(), &status) != 0) continue;  // a dangling link holds no movie
        if (S_ISREG(status.st_mode) && IsMovieName(entry)) {
            found->push_back({entry.string(), (relative / entry.stem()).string()});
        } else if (S_ISDIR(status.st_mode)) {
            const FolderId id{status.st_dev, status.st_ino};
            const char* skipped = walked->outputs.count(id) != 0 ? "it is an output folder"
                                  : !walked->folders.insert(id).second
                                      ? "a link to a folder searched already"
                                      : nullptr;
            if (skipped != nullptr) {
                std::fprintf(stderr, "zmbtool: decode: note: not searching %s: %s\n",
                             Shown(entry.string()).c_str(), skipped);
                continue;
            }
            if (!Walk(entry, relative / entry.filename(), walked, found)) return false;
        }
    }
    return true;
}

// The movies given, and with -r those in the folders given. The output folders are never
// searched, so that an output folder inside the tree is not read as part of it.
bool FindMovies(const BatchRequest& request, const std::vector<GivenOutput>& outputs,
                std::vector<FoundMovie>* found) {
    Walked walked;
    for (const GivenOutput& output : outputs) {
        struct stat status {};
        if (::stat(output.folder.c_str(), &status) == 0)
            walked.outputs.insert({status.st_dev, status.st_ino});
    }
    for (const std::string& movie : request.movies) {
        struct stat status {};
        if (!request.recursive || ::stat(movie.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
            found->push_back({movie, fs::path(movie).stem().string()});
            continue;
        }
        if (walked.folders.insert({status.st_dev, status.st_ino}).second &&
            !Walk(movie, {}, &walked, found))
            return false;
    }
    return true;
}

// The folders from BASE (which exists) down to and with FOLDER, outermost first.
void AddFolders(const fs::path& base, const fs::path& folder, std::vector<std::string>* folders) {
    std::vector<std::string> chain;
    for (fs::path at = folder; at != base && !at.empty() && at != at.parent_path();
         at = at.parent_path())
        chain.push_back(at.string());
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        if (std::find(folders->begin(), folders->end(), *it) == folders->end())
            folders->push_back(*it);
}

std::vector<MoviePlan> PlanMovies(const std::vector<FoundMovie>& movies,
                                  const std::vector<GivenOutput>& outputs,
                                  const std::vector<std::string>& shared) {
    std::vector<MoviePlan> plans;
    for (const FoundMovie& movie : movies) {
        MoviePlan plan{movie.path, {"decode"}, {}, {}};
        plan.args.insert(plan.args.end(), shared.begin(), shared.end());
        for (const GivenOutput& output : outputs) {
            const bool folder = output.kind->extension == nullptr;
            const fs::path path = fs::path(output.folder) /
                                  (folder ? movie.name : movie.name + output.kind->extension);
            AddFolders(output.folder, folder ? path : path.parent_path(), &plan.folders);
            plan.outputs.emplace_back(path.string(), folder);
            plan.args.push_back(output.kind->option);
            plan.args.push_back(path.string());
        }
        if (ReplacingAllowed()) plan.args.push_back("--force");
        // The movie after "--": a name that starts with a dash is not taken for an option.
        plan.args.insert(plan.args.end(), {"--", movie.path});
        plans.push_back(std::move(plan));
    }
    return plans;
}

// A movie's run as it goes: its process, what it says on standard error, the folders made
// for it (removed again, if still empty, when it fails).
struct Child {
    const MoviePlan* plan = nullptr;
    pid_t pid = -1;
    int errors = -1;  // the read end of its standard error
    std::string said;
    std::vector<std::string> madeFolders;
    std::chrono::steady_clock::time_point start;
    bool wroteManifest = false;  // its own run adds its line to the manifest
};

// The counts for the total line.
struct Tally {
    std::size_t done = 0, salvaged = 0, failed = 0, stopped = 0, existing = 0;
};

void RemoveMadeFolders(const Child& child) {
    for (auto it = child.madeFolders.rbegin(); it != child.madeFolders.rend(); ++it)
        ::rmdir(it->c_str());
}

bool MakeFolders(const MoviePlan& plan, Child* child) {
    for (const std::string& folder : plan.folders) {
        if (::mkdir(folder.c_str(), 0777) == 0) {
            child->madeFolders.push_back(folder);
        } else if (errno != EEXIST) {
            child->said = "zmbtool: decode: cannot make the folder " + folder + ": " +
                          std::strerror(errno) + "\n";
            return false;
        }
    }
    return true;
}

// In the child, between fork and exec: only calls that are safe there.
[[noreturn]] void StartChild(char* const* argv, int errors, const sigset_t& mask, pid_t parent) {
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    bool termIgnored = false;
    for (int sig : kStoppingSignals) {
        struct sigaction now {};
        if (sigaction(sig, nullptr, &now) == 0 && now.sa_handler != SIG_IGN)
            sigaction(sig, &standard, nullptr);
        else if (sig == SIGTERM)
            termIgnored = true;
    }
    // A parent killed outright (SIGKILL) cannot pass anything on: the system stops the movie
    // then, by SIGTERM so that it removes its temporaries. A parent gone before this was set
    // sends nothing, so its absence is checked after.
    static_cast<void>(::prctl(PR_SET_PDEATHSIG, termIgnored ? SIGKILL : SIGTERM));
    if (::getppid() != parent) ::_exit(kCannotRun);
    sigprocmask(SIG_SETMASK, &mask, nullptr);
    if (::dup2(errors, STDERR_FILENO) >= 0) ::execv("/proc/self/exe", argv);
    static const char message[] = "zmbtool: decode: cannot start zmbtool for this movie\n";
    static_cast<void>(::write(STDERR_FILENO, message, sizeof message - 1));
    ::_exit(kCannotRun);
}

enum class Started { Yes, Failed, Stopping };

Started Launch(const MoviePlan& plan, std::size_t slot, Child* child) {
    child->plan = &plan;
    child->start = std::chrono::steady_clock::now();
    if (!MakeFolders(plan, child)) return Started::Failed;
    std::vector<std::string> args = plan.args;
    std::vector<char*> argv{const_cast<char*>("zmbtool")};
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) {
        child->said = std::string("zmbtool: decode: cannot start: ") + std::strerror(errno) + "\n";
        return Started::Failed;
    }
    const StoppingSignalsHeld held;
    // A signal that came since the caller looked would not reach a child started now.
    if (stopSignal != 0) {
        ::close(pipe[0]), ::close(pipe[1]);
        RemoveMadeFolders(*child);
        return Started::Stopping;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) StartChild(argv.data(), pipe[1], held.Before(), parent);
    ::close(pipe[1]);
    if (pid < 0) {
        child->said = std::string("zmbtool: decode: cannot start: ") + std::strerror(errno) + "\n";
        ::close(pipe[0]);
        return Started::Failed;
    }
    child->pid = pid;
    child->errors = pipe[0];
    runningChildren[slot] = pid;
    return Started::Yes;
}

std::string Seconds(std::chrono::steady_clock::duration elapsed) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(elapsed).count());
    return text;
}

void Say(const MoviePlan& plan, const std::string& outcome) {
    std::printf("%s: %s\n", Shown(plan.movie).c_str(), outcome.c_str());
    std::fflush(stdout);
}

// A movie whose own run did not add its line (it was stopped, or never ran) gets it here.
void NoteInManifest(const std::string& manifest, const MoviePlan& plan, const char* status,
                    double seconds) {
    if (manifest.empty()) return;
    ManifestLine line{plan.movie, {}, status, 0, seconds};
    for (const auto& output : plan.outputs) line.outputs.push_back(output.first);
    AppendManifest(manifest, line);
}

// What the child said, whole, then the movie's line; the status counts into TALLY.
void Report(const Child& child, int status, const std::string& manifest, Tally* tally) {
    std::fwrite(child.said.data(), 1, child.said.size(), stderr);
    std::fflush(stderr);
    const auto elapsed = std::chrono::steady_clock::now() - child.start;
    const std::string time = Seconds(elapsed);
    std::string outcome;
    const char* noted = "failed";
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        outcome = "done in " + time, ++tally->done;
    } else if (WIFEXITED(status) && WEXITSTATUS(status) == kSalvaged) {
        outcome = "salvaged in " + time + ": damaged, the frames before the damage written",
        ++tally->salvaged;
    } else if (WIFSIGNALED(status) && WTERMSIG(status) == stopSignal) {
        outcome = "stopped", ++tally->stopped, noted = "stopped";
    } else if (WIFSIGNALED(status)) {
        outcome = "failed: ended by signal " + std::to_string(WTERMSIG(status)) + " (" +
                  strsignal(WTERMSIG(status)) + ")";
        ++tally->failed;
    } else {
        outcome = "failed", ++tally->failed;
    }
    Say(*child.plan, outcome);
    if (!child.wroteManifest)
        NoteInManifest(manifest, *child.plan, noted,
                       std::chrono::duration<double>(elapsed).count());
}

bool AllExist(const MoviePlan& plan) {
    for (const auto& [path, folder] : plan.outputs)
        if (!OutputExists(path, folder)) return false;
    return true;
}

// Reads what the children say until one of them is done; returns its place in CHILDREN.
std::size_t WaitForOne(std::vector<Child>& children) {
    for (;;) {
        std::vector<pollfd> polled;
        for (const Child& child : children) polled.push_back({child.errors, POLLIN, 0});
        if (::poll(polled.data(), polled.size(), -1) < 0) continue;  // a signal: poll again
        for (std::size_t i = 0; i < children.size(); ++i) {
            if (polled[i].revents == 0) continue;
            char chunk[4096];
            const ssize_t got = ::read(children[i].errors, chunk, sizeof chunk);
            if (got > 0) children[i].said.append(chunk, static_cast<std::size_t>(got));
            if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) return i;
        }
    }
}

void Finish(Child& child, const std::string& manifest, Tally* tally) {
    int status = 0;
    if (child.errors >= 0) ::close(child.errors);
    if (child.pid > 0) {
        while (::waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
        }
    } else {
        status = 1 << 8;  // never started: a failure, as an exit status of 1
    }
    // A run that ended by itself said how it went in the manifest, unless it never ran.
    child.wroteManifest = WIFEXITED(status) && child.pid > 0 && WEXITSTATUS(status) != kCannotRun;
    // A movie that failed keeps the outputs it could write, and so the folders that hold them.
    if (!(WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == kSalvaged)))
        RemoveMadeFolders(child);
    Report(child, status, manifest, tally);
}

void ForgetSlot(std::vector<std::size_t>& slots, std::size_t at) {
    const StoppingSignalsHeld held;
    runningChildren[slots[at]] = 0;
    slots.erase(slots.begin() + static_cast<std::ptrdiff_t>(at));
}

// With --skip-existing, a movie whose outputs all exist is done already.
bool SkipIfDone(const BatchRequest& request, const MoviePlan& plan, Tally* tally) {
    if (!request.skipExisting || !AllExist(plan)) return false;
    Say(plan, "exists");
    ++tally->existing;
    NoteInManifest(request.manifest, plan, "exists", 0);
    return true;
}

int RunAll(const BatchRequest& request, const std::vector<MoviePlan>& plans, unsigned jobs) {
    const auto start = std::chrono::steady_clock::now();
    Tally tally;
    std::vector<Child> children;
    std::vector<std::size_t> slots;  // each child's place in runningChildren
    std::size_t next = 0;
    const SignalForwarding forwarding;
    while (next < plans.size() || !children.empty()) {
        while (stopSignal == 0 && next < plans.size() && children.size() < jobs) {
            if (SkipIfDone(request, plans[next], &tally)) {
                ++next;
                continue;
            }
            std::size_t slot = 0;
            while (runningChildren[slot] != 0) ++slot;
            Child child;
            const Started started = Launch(plans[next], slot, &child);
            if (started == Started::Stopping) break;
            ++next;
            if (started == Started::Failed) {
                Finish(child, request.manifest, &tally);
                continue;
            }
            children.push_back(std::move(child));
            slots.push_back(slot);
        }
        if (children.empty()) break;
        const std::size_t ended = WaitForOne(children);
        // Forgotten before it is reaped, so that no signal goes to a process of its number.
        ForgetSlot(slots, ended);
        Finish(children[ended], request.manifest, &tally);
        children.erase(children.begin() + static_cast<std::ptrdiff_t>(ended));
    }
    std::string total = "decode: " + std::to_string(plans.size()) + " movies in " +
                        Seconds(std::chrono::steady_clock::now() - start) + ": " +
                        std::to_string(tally.done) + " done, " + std::to_string(tally.salvaged) +
                        " salvaged, " + std::to_string(tally.failed) + " failed";
    if (tally.existing > 0) total += ", " + std::to_string(tally.existing) + " existed";
    if (tally.stopped > 0) total += ", " + std::to_string(tally.stopped) + " stopped";
    if (next < plans.size()) total += ", " + std::to_string(plans.size() - next) + " not begun";
    std::printf("%s\n", total.c_str());
    if (tally.failed > 0 || tally.stopped > 0 || next < plans.size()) return 1;
    return tally.salvaged > 0 ? kSalvaged : 0;
}

unsigned Processors() {
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    return online < 1 ? 1 : online > long{kMostJobs} ? kMostJobs : static_cast<unsigned>(online);
}

}  // namespace

bool ParseJobs(const std::string& text, unsigned* jobs) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != 0 || value < 1 || value > long{kMostJobs}) return false;
    *jobs = static_cast<unsigned>(value);
    return true;
}

namespace {

void AddJsonString(std::string* json, const std::string& text) {
    *json += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            *json += '\\', *json += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(c));
            *json += escape;
        } else {
            *json += c;
        }
    }
    *json += '"';
}

}  // namespace

void AppendManifest(const std::string& file, const ManifestLine& line) {
    std::string json = "{\"input\":";
    AddJsonString(&json, line.input);
    json += ",\"outputs\":[";
    for (std::size_t i = 0; i < line.outputs.size(); ++i) {
        if (i > 0) json += ',';
        AddJsonString(&json, line.outputs[i]);
    }
    char rest[160];
    std::snprintf(rest, sizeof rest,
                  "],\"status\":\"%s\",\"frames\":%ld,\"salvaged\":%s,\"seconds\":%.3f}\n",
                  line.status, line.frames,
                  std::strcmp(line.status, "salvaged") == 0 ? "true" : "false", line.seconds);
    json += rest;
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    const ssize_t wrote = fd < 0 ? -1 : ::write(fd, json.data(), json.size());
    const int reason = errno;
    if (fd >= 0 && ::close(fd) != 0 && wrote >= 0) {
        Fail("decode: cannot write the manifest " + file + ": " + std::strerror(errno));
        return;
    }
    if (wrote < 0 || static_cast<std::size_t>(wrote) != json.size())
        Fail("decode: cannot write the manifest " + file + ": " +
             std::strerror(wrote < 0 ? reason : ENOSPC));
}

bool OutputExists(const std::string& path, bool folder) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return false;
    if (!folder) return S_ISREG(status.st_mode);
    std::error_code failure;
    for (fs::directory_iterator it(path, failure), end; !failure && it != end;
         it.increment(failure))
        if (it->path().filename().string()[0] != '.') return true;
    return false;
}

int DecodeMovies(const BatchRequest& request) {
    std::vector<GivenOutput> outputs;
    std::vector<std::string> shared;
    SplitArguments(request, &outputs, &shared);
    const std::string given =
        request.recursive
            ? "with -r"
            : "with several movies (" + std::to_string(request.movies.size()) + " given)";
    if (const int status = CheckFolders(outputs, given)) return status;
    std::vector<FoundMovie> movies;
    if (!FindMovies(request, outputs, &movies)) return 1;
    if (movies.empty()) return Refuse("no movie (*.zmb) found in the folders given");
    if (const int status = CheckNames(movies)) return status;
    const std::vector<MoviePlan> plans = PlanMovies(movies, outputs, shared);
    const unsigned jobs = request.jobs != 0 ? request.jobs : Processors();
    const int status = RunAll(request, plans, jobs);
    // Stopped by a signal: the children have cleaned up after themselves; this process ends
    // by the signal too, so that its caller sees what stopped it.
    if (const int sig = stopSignal; sig != 0) {
        std::fflush(stdout);
        ::signal(sig, SIG_DFL);
        ::raise(sig);
    }
    return status;
}

}  // namespace zmbtool
