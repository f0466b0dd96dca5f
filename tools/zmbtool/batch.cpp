// SPDX-License-Identifier: MIT
// zmbtool decode of several movies: one child process per movie, at most -j at once.
#include "batch.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "command.h"
#include "output.h"

namespace zmbtool {

namespace {

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

// One movie's run: its command line and the folders to make for it first.
struct MoviePlan {
    std::string movie;
    std::vector<std::string> args;  // after the program's name
    std::vector<std::string> folders;
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
        if (owner.empty() || owner == "-j" || owner == "--jobs") continue;
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
int CheckFolders(const std::vector<GivenOutput>& outputs, std::size_t movies) {
    if (outputs.empty()) return Refuse("no output given (see zmbtool decode --help)");
    for (const GivenOutput& output : outputs) {
        const std::string option = output.kind->option;
        if (output.folder == "-")
            return Refuse("with several movies (" + std::to_string(movies) + " given), " + option +
                          " cannot be standard output; give a folder for them");
        if (!IsFolder(output.folder))
            return Refuse("with several movies (" + std::to_string(movies) + " given), " + option +
                          " needs an existing folder for one output per movie; " + output.folder +
                          " is not one");
    }
    return 0;
}

// Outputs are named after the movies, so two movies of one name would write the same files.
int CheckNames(const std::vector<std::string>& movies) {
    std::map<std::string, std::string> byName;
    for (const std::string& movie : movies) {
        const std::string name = std::filesystem::path(movie).stem().string();
        if (name.empty()) return Refuse("cannot name an output after " + movie);
        const auto [at, added] = byName.emplace(name, movie);
        if (!added)
            return Refuse(at->second + " and " + movie + " would both write outputs named " + name +
                          "; decode them into different folders");
    }
    return 0;
}

std::vector<MoviePlan> PlanMovies(const BatchRequest& request,
                                  const std::vector<GivenOutput>& outputs,
                                  const std::vector<std::string>& shared) {
    std::vector<MoviePlan> plans;
    for (const std::string& movie : request.movies) {
        MoviePlan plan{movie, {"decode", movie}, {}};
        plan.args.insert(plan.args.end(), shared.begin(), shared.end());
        const std::string name = std::filesystem::path(movie).stem().string();
        for (const GivenOutput& output : outputs) {
            const bool folder = output.kind->extension == nullptr;
            const std::string path = (std::filesystem::path(output.folder) /
                                      (folder ? name : name + output.kind->extension))
                                         .string();
            if (folder) plan.folders.push_back(path);
            plan.args.push_back(output.kind->option);
            plan.args.push_back(path);
        }
        if (ReplacingAllowed()) plan.args.push_back("--force");
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
};

// The counts for the total line.
struct Tally {
    std::size_t done = 0, salvaged = 0, failed = 0, stopped = 0;
};

void RemoveMadeFolders(const Child& child) {
    for (const std::string& folder : child.madeFolders) ::rmdir(folder.c_str());
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
[[noreturn]] void StartChild(char* const* argv, int errors, const sigset_t& mask) {
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    for (int sig : kStoppingSignals) {
        struct sigaction now {};
        if (sigaction(sig, nullptr, &now) == 0 && now.sa_handler != SIG_IGN)
            sigaction(sig, &standard, nullptr);
    }
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
    const pid_t pid = ::fork();
    if (pid == 0) StartChild(argv.data(), pipe[1], held.Before());
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

// What the child said, whole, then the movie's line; the status counts into TALLY.
void Report(const Child& child, int status, Tally* tally) {
    std::fwrite(child.said.data(), 1, child.said.size(), stderr);
    std::fflush(stderr);
    const std::string time = Seconds(std::chrono::steady_clock::now() - child.start);
    std::string outcome;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        outcome = "done in " + time, ++tally->done;
    } else if (WIFEXITED(status) && WEXITSTATUS(status) == kSalvaged) {
        outcome = "salvaged in " + time + ": damaged, the frames before the damage written",
        ++tally->salvaged;
    } else if (WIFSIGNALED(status) && WTERMSIG(status) == stopSignal) {
        outcome = "stopped", ++tally->stopped;
    } else if (WIFSIGNALED(status)) {
        outcome = "failed: ended by signal " + std::to_string(WTERMSIG(status)) + " (" +
                  strsignal(WTERMSIG(status)) + ")";
        ++tally->failed;
    } else {
        outcome = "failed", ++tally->failed;
    }
    std::printf("%s: %s\n", child.plan->movie.c_str(), outcome.c_str());
    std::fflush(stdout);
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

void Finish(Child& child, Tally* tally) {
    int status = 0;
    if (child.errors >= 0) ::close(child.errors);
    if (child.pid > 0) {
        while (::waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
        }
    } else {
        status = 1 << 8;  // never started: a failure, as an exit status of 1
    }
    if (!(WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == kSalvaged)))
        RemoveMadeFolders(child);
    Report(child, status, tally);
}

void ForgetSlot(std::vector<std::size_t>& slots, std::size_t at) {
    const StoppingSignalsHeld held;
    runningChildren[slots[at]] = 0;
    slots.erase(slots.begin() + static_cast<std::ptrdiff_t>(at));
}

int RunAll(const std::vector<MoviePlan>& plans, unsigned jobs) {
    const auto start = std::chrono::steady_clock::now();
    Tally tally;
    std::vector<Child> children;
    std::vector<std::size_t> slots;  // each child's place in runningChildren
    std::size_t next = 0;
    const SignalForwarding forwarding;
    while (next < plans.size() || !children.empty()) {
        while (stopSignal == 0 && next < plans.size() && children.size() < jobs) {
            std::size_t slot = 0;
            while (runningChildren[slot] != 0) ++slot;
            Child child;
            const Started started = Launch(plans[next], slot, &child);
            if (started == Started::Stopping) break;
            ++next;
            if (started == Started::Failed) {
                Finish(child, &tally);
                continue;
            }
            children.push_back(std::move(child));
            slots.push_back(slot);
        }
        if (children.empty()) break;
        const std::size_t ended = WaitForOne(children);
        // Forgotten before it is reaped, so that no signal goes to a process of its number.
        ForgetSlot(slots, ended);
        Finish(children[ended], &tally);
        children.erase(children.begin() + static_cast<std::ptrdiff_t>(ended));
    }
    std::string total = "decode: " + std::to_string(plans.size()) + " movies in " +
                        Seconds(std::chrono::steady_clock::now() - start) + ": " +
                        std::to_string(tally.done) + " done, " + std::to_string(tally.salvaged) +
                        " salvaged, " + std::to_string(tally.failed) + " failed";
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

int DecodeMovies(const BatchRequest& request) {
    std::vector<GivenOutput> outputs;
    std::vector<std::string> shared;
    SplitArguments(request, &outputs, &shared);
    if (const int status = CheckFolders(outputs, request.movies.size())) return status;
    if (const int status = CheckNames(request.movies)) return status;
    const std::vector<MoviePlan> plans = PlanMovies(request, outputs, shared);
    const unsigned jobs = request.jobs != 0 ? request.jobs : Processors();
    const int status = RunAll(plans, jobs);
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
