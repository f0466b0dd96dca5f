// SPDX-License-Identifier: MIT
// The POSIX entry: arguments into the command line, and the run's outcome as exit status.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <cstdlib>

#include "platform/standin/gui/desktop_seams.h"
#include "player/entry.h"
#include "player/messages.h"
#include "player/posix_args.h"
#include "player/settings.h"

namespace {

constexpr int kUsageStatus = 2;
constexpr int kFailureStatus = 1;

// A text that did not reach its reader (a full disk, a closed pipe) is a failure to say so,
// not a success.
int PrintText(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
    std::fprintf(stderr, "zambply: cannot write to standard output: %s\n", std::strerror(errno));
    return kFailureStatus;
}

MessageChoice ChoiceFromEnvironment() {
    const char* wanted = std::getenv("ZAMBREL_MESSAGES");
    if (!wanted) return MessageChoice::Automatic;
    if (std::strcmp(wanted, "box") == 0) return MessageChoice::Box;
    if (std::strcmp(wanted, "terminal") == 0) return MessageChoice::Terminal;
    return MessageChoice::Automatic;
}

// A box is for someone at the desktop: the desktop entry asks for boxes, and a file manager
// opens movies through it. Everything else (a terminal, a script, a service) gets its
// messages on standard error and never waits for a click no one will give.
MessageWay ChooseMessageWay(MessageChoice asked) {
    if (asked == MessageChoice::Automatic) asked = ChoiceFromEnvironment();
    return asked == MessageChoice::Box ? MessageWay::Box : MessageWay::Terminal;
}

}  // namespace

int RunPlayerWithArguments(const std::vector<std::string>& args) {
    PosixCommand command = ReadPosixArguments(args);
    switch (command.Request) {
        case PosixRequest::Help:
            return PrintText(PosixUsageText());
        case PosixRequest::Version:
            return PrintText(PosixVersionText());
        case PosixRequest::UsageError:
            std::fprintf(stderr, "zambply: %s (see zambply --help)\n", command.Problem.c_str());
            return kUsageStatus;
        case PosixRequest::Play:
            break;
    }
    SetMessageWay(ChooseMessageWay(command.Messages));
    // Playing unseen on a display the user did not choose would look like success.
    const std::string displayProblem = standin::DisplayProblem();
    if (!displayProblem.empty()) {
        std::fprintf(stderr, "zambply: %s\n", displayProblem.c_str());
        return kFailureStatus;
    }
    std::vector<char> commandLine(command.CommandLine.begin(), command.CommandLine.end());
    commandLine.push_back('\0');
    RunPlayer(commandLine.data());
    if (Outcome.UsageShown && !Outcome.UsageFault.empty())
        std::fprintf(stderr, "zambply: %s (see zambply --help)\n", Outcome.UsageFault.c_str());
    return ExitStatusOf(Outcome);
}
