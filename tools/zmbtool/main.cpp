// SPDX-License-Identifier: MIT
// zmbtool: inspect, decode, encode and make self-playing copies of Zambrel movies.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "command.h"
#include "output.h"

namespace zmbtool {

namespace {
std::vector<Command>& Registry() {
    static std::vector<Command> commands;
    return commands;
}

void ShowHelp(std::FILE* out) {
    std::fprintf(out, "usage: zmbtool COMMAND [OPTIONS] ...\n\ncommands:\n");
    std::vector<Command> sorted = Registry();
    std::sort(sorted.begin(), sorted.end(),
              [](const Command& a, const Command& b) { return std::strcmp(a.name, b.name) < 0; });
    for (const Command& command : sorted)
        std::fprintf(out, "  %-10s %s\n", command.name, command.summary);
    std::fprintf(out,
                 "\n`zmbtool COMMAND --help` describes a command. The commands that write files "
                 "take\n--force (-f) to replace files that exist.\n");
}

// Takes --force and -f out of ARGS, before any "--" (a file may be named -f); true when one
// was there.
bool TakeForce(std::vector<std::string>& args) {
    const auto options = std::find(args.begin(), args.end(), "--");
    const auto end = std::remove_if(
        args.begin(), options, [](const std::string& a) { return a == "--force" || a == "-f"; });
    const bool found = end != options;
    args.erase(end, options);
    return found;
}

// A report cut short by a full disk or a closed pipe must not pass for a whole one.
int CheckStandardOutput(int status, bool closing) {
    int reason = errno;
    bool failed = std::ferror(stdout) != 0;
    if (std::fflush(stdout) != 0) failed = true, reason = errno;
    if (closing && !failed && std::fclose(stdout) != 0) failed = true, reason = errno;
    if (!failed) return status;
    // A run that failed has said why already, the writer that met the error with its reason;
    // by now errno belongs to later calls, and a second line would only blur the first.
    if (status != 0 && status != kSalvaged) {
        std::clearerr(stdout);
        return status;
    }
    std::fprintf(stderr, "zmbtool: cannot write standard output: %s\n",
                 std::strerror(reason != 0 ? reason : EIO));
    // Once reported, it must not be reported again at the close.
    std::clearerr(stdout);
    return 1;
}

// A run that did its work puts its outputs in place; any other leaves no trace.
int EndRun(int status) {
    if (status != 0 && status != kSalvaged) {
        AbandonOutputs();
        return status;
    }
    std::string error;
    if (CommitOutputs(&error)) return status;
    return Fail(error);
}

int RunCommand(const Command& command, std::vector<std::string> args) {
    CatchSignals();
    if (command.writesFiles) AllowReplacing(TakeForce(args));
    int status = 1;
    // Running out of memory (a large --scale) is a failure like any other: it must not end
    // the process before the run's temporaries are removed.
    try {
        status = command.run(args);
    } catch (const std::bad_alloc&) {
        status = Fail(command.name + std::string(": out of memory"));
    }
    status = CheckStandardOutput(status, false);
    status = EndRun(status);
    return CheckStandardOutput(status, true);
}
}  // namespace

Registration::Registration(const Command& command) {
    Registry().push_back(command);
}
const std::vector<Command>& Commands() {
    return Registry();
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "zmbtool: %s\n", message.c_str());
    return 1;
}

}  // namespace zmbtool

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        zmbtool::ShowHelp(args.empty() ? stderr : stdout);
        return zmbtool::CheckStandardOutput(args.empty() ? 1 : 0, true);
    }
    if (args[0] == "--version") {
        std::printf("zmbtool %s\n", ZMBTOOL_VERSION);
        return zmbtool::CheckStandardOutput(0, true);
    }
    for (const zmbtool::Command& command : zmbtool::Commands()) {
        if (args[0] == command.name)
            return zmbtool::RunCommand(command, {args.begin() + 1, args.end()});
    }
    return zmbtool::Fail("unknown command '" + args[0] + "' (try zmbtool --help)");
}
