// SPDX-License-Identifier: MIT
// Where zmbtool's outputs go: the one set of rules every command writes through, so that no
// output path can make zmbtool replace or remove anything that is not its own output.
//
// - A regular file, or a name that does not exist yet, is written under a temporary name
//   beside it. The temporaries of a run are renamed into place together, once the command
//   has done its work (CommitOutputs); a failed or interrupted run removes them all, so
//   every path holds either its old file or the whole new one.
// - An existing regular file is replaced only when the user asked for it (--force).
// - A FIFO, a character device, anything reached through /dev or /proc (such as /dev/stdout)
//   and "-" (standard output) are streams: written in place, never replaced.
// - A symlink is followed and its final target written; the link itself stays.
// - Folders, block devices and sockets are refused, and so is any output that is one of the
//   run's inputs or that another output of the run already names.
#pragma once

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace zmbtool {

// --force: existing regular files may be replaced, and a folder output keeps only the new
// set of the names it writes. Set before the outputs are checked.
void AllowReplacing(bool allow);
bool ReplacingAllowed();

// The signals that stop a run: each removes the run's temporaries, and a run of several
// movies passes them on to the movies running.
inline constexpr int kStoppingSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Holds the stopping signals back for its lifetime, so that what it guards is done whole.
class StoppingSignalsHeld {
  public:
    StoppingSignalsHeld() {
        sigset_t held;
        sigemptyset(&held);
        for (int sig : kStoppingSignals) sigaddset(&held, sig);
        sigprocmask(SIG_BLOCK, &held, &before_);
    }
    ~StoppingSignalsHeld() { sigprocmask(SIG_SETMASK, &before_, nullptr); }
    StoppingSignalsHeld(const StoppingSignalsHeld&) = delete;
    StoppingSignalsHeld& operator=(const StoppingSignalsHeld&) = delete;
    // The mask before it, for a child to start with.
    const sigset_t& Before() const { return before_; }

  private:
    sigset_t before_;
};

// From here on, SIGINT, SIGTERM and SIGHUP remove every temporary of the run before the
// signal ends the process as it would have; SIGPIPE is ignored, so that a reader that goes
// away is a failed write with its message instead of a silent end.
void CatchSignals();

// Renames every completed file output of the run into place and, with --force, removes the
// older files of the folder outputs' patterns that the run did not write. Removes what is
// left over on failure (ERROR names it).
bool CommitOutputs(std::string* error);
// Removes every temporary of the run: nothing it began appears.
void AbandonOutputs();
// Takes back the files completed so far in FOLDER (a folder output that failed part-way),
// so that the run's other outputs can still be put in place without them.
void AbandonOutputsIn(const std::string& folder);

// The files a folder output writes, so that no other output can be one of them and no old
// file of the same pattern is replaced or left beside the new ones unasked.
enum class FolderPattern {
    Frames,     // frame00000.png, frame00001.png, ... (five digits or more)
    WavTracks,  // track0.wav ... track6.wav
    PcmTracks,  // track0.pcm ... track6.pcm
};
struct FolderOutput {
    std::string folder;
    FolderPattern pattern;
};

// Records PATH as something the run reads; an output that resolves to it is refused.
// Paths that do not exist are ignored here (their reader reports them).
void NoteInput(const std::string& path);

// Checks every output of the run before any work starts, and that no two of them are the
// same file. On failure ERROR is one line naming the output and the reason.
// Folder outputs must exist and take new files; without --force they may not hold a file
// of their pattern yet.
bool CheckOutputs(const std::vector<std::string>& outputs, const std::vector<FolderOutput>& folders,
                  std::string* error);
inline bool CheckOutputs(const std::vector<std::string>& outputs, std::string* error) {
    return CheckOutputs(outputs, {}, error);
}

// One output, opened under the rules above.
class OutputFile {
  public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Uncommitted, a file output's temporary is removed; a stream is left as it is.
    ~OutputFile();

    bool Open(const std::string& path, std::string* error);
    bool IsOpen() const { return file_ != nullptr; }
    // True for streams: nothing written can be taken back or rewritten.
    bool IsStream() const { return stream_; }
    std::FILE* Stream() const { return file_; }
    const std::string& Name() const { return given_; }
    // True (and writes nothing) when nothing is open, so optional outputs need no test.
    bool Write(const void* data, std::size_t size);
    // Gives a file output execute permission (as the umask allows) once it is in place.
    void MarkExecutable();
    // Rewrites bytes already written at OFFSET (file outputs only; streams return false).
    bool Overwrite(std::uint64_t offset, const void* data, std::size_t size);
    // Completes the output: a file is flushed and closed, and waits for CommitOutputs to be
    // renamed into place. ERROR names the output and the reason. True when nothing is open.
    bool Commit(std::string* error);
    // Drops a file output's temporary; a stream is closed as it stands.
    void Discard();
    // "cannot write NAME: reason" for the first write that failed.
    std::string Failure() const;
    bool Failed() const { return failed_; }

  private:
    std::string given_, path_, temporary_;
    std::FILE* file_ = nullptr;
    bool stream_ = false;
    bool ownsStream_ = false;  // false for standard output, which stays open
    bool failed_ = false;
    int writeError_ = 0;  // errno of the first failed write
};

}  // namespace zmbtool
