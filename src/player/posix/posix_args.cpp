// SPDX-License-Identifier: MIT
// Turning POSIX arguments into the player's command line.
#include "player/posix_args.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "player/command_text.h"
#include "player/messages.h"
#include "player/settings.h"
#include "player/summary.h"

#ifndef ZAMBREL_VERSION
#define ZAMBREL_VERSION "unknown"
#endif

namespace {

// Starts the stand-in for a name the command line cannot carry: not a blank, not '/', not
// '"' and not ':', so the parser passes it through as an ordinary one-word name.
constexpr char kNameStandIn = '\x7F';

// The names behind the stand-ins, by number.
std::vector<std::string>& StoodInNames() {
    static std::vector<std::string> names;
    return names;
}

bool IsSwitchLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '@' || c == '#';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool Exists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}

// An absolute path is told from switch text by asking the file system; the movie
// extension is tried too, since a name without one gets it added when opened.
bool NamesExistingFile(const std::string& arg) {
    if (Exists(arg)) return true;
    for (const char* extension : {".zmb", ".Zmb", ".ZMB"})
        if (Exists(arg + extension)) return true;
    return false;
}

// Only switches: each '/' is followed by a switch letter and at most a signed number, and
// blanks may separate them. "/tmp/a.zmb" fails at "mp" and is a name; "/P5" passes and is
// left to the parser, which refuses it with the usage message as it should.
bool IsSwitchText(const std::string& arg) {
    std::size_t at = 0;
    while (at < arg.size()) {
        if (IsBlank(arg[at])) {
            ++at;
            continue;
        }
        if (arg[at] != '/' || at + 1 >= arg.size() || !IsSwitchLetter(arg[at + 1])) return false;
        at += 2;
        if (at + 1 < arg.size() && arg[at] == '-' && IsDigit(arg[at + 1])) ++at;
        while (at < arg.size() && IsDigit(arg[at])) ++at;
    }
    return !arg.empty();
}

std::string InCommandLineForm(std::string name) {
    for (char& c : name)
        if (c == '/') c = '\\';
    return name;
}

// A name the command line cannot quote (it holds a '"'), one whose '\' it would take for a
// folder's end, one that could be taken for a stand-in, and "-" (the standard input) go
// into the table as they were given, if they fit a movie name at all.
bool NeedsStandIn(const std::string& arg) {
    return (arg.find_first_of("\"\\") != std::string::npos || arg[0] == kNameStandIn ||
            arg == "-") &&
           arg.size() < kMovieNameCapacity;
}

std::string AsMovieName(const std::string& arg) {
    if (NeedsStandIn(arg)) {
        StoodInNames().push_back(arg);
        return kNameStandIn + std::to_string(StoodInNames().size() - 1);
    }
    std::string name = InCommandLineForm(arg);
    bool hasBlank = false;
    for (char c : name) hasBlank = hasBlank || IsBlank(c);
    return hasBlank ? "\"" + name + "\"" : name;
}

bool HasMovieExtension(const std::string& name) {
    return name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".zmb") == 0;
}

// The movies directly in a folder, in name order; a folder with none stays one name, which
// the open then calls a folder.
std::string AsMovieNames(const std::string& arg) {
    std::error_code error;
    if (arg == "-" || !std::filesystem::is_directory(arg, error)) return AsMovieName(arg);
    std::vector<std::string> movies;
    for (const auto& entry : std::filesystem::directory_iterator(arg, error)) {
        const std::string leaf = entry.path().filename().string();
        if (HasMovieExtension(leaf) && !entry.is_directory(error)) movies.push_back(leaf);
    }
    if (movies.empty()) return AsMovieName(arg);
    std::sort(movies.begin(), movies.end());
    const std::string folder = arg.back() == '/' ? arg : arg + "/";
    std::string names;
    for (const std::string& movie : movies) {
        if (!names.empty()) names += ' ';
        names += AsMovieName(folder + movie);
    }
    return names;
}

// "/tmp/gone.zmb" is a path even though nothing exists under it: its first component is a
// folder that does. "/Zq" or "/Sx/P" is not, and stays switch text for the parser to refuse.
bool StartsWithExistingFolder(const std::string& arg) {
    const std::size_t second = arg.find('/', 1);
    if (second == std::string::npos) return false;
    std::error_code error;
    return std::filesystem::is_directory(arg.substr(0, second), error);
}

// No switch holds a '.', so "/x.zmb" is a file name even when it names nothing, and says
// "not found" rather than taking the user for someone who mistyped a switch.
bool LooksLikeFileName(const std::string& arg) {
    return arg.find('.') != std::string::npos || StartsWithExistingFolder(arg);
}

std::string Translate(const std::string& arg) {
    if (arg.size() >= 2 && arg[0] == '-' && IsSwitchLetter(arg[1])) return "/" + arg.substr(1);
    if (arg[0] != '/' || NamesExistingFile(arg)) return AsMovieNames(arg);
    if (IsSwitchText(arg) || !LooksLikeFileName(arg)) return arg;
    return AsMovieName(arg);
}

void Append(std::string& text, const std::string& piece) {
    if (!text.empty()) text += ' ';
    text += piece;
}

}  // namespace

PosixCommand ReadPosixArguments(const std::vector<std::string>& args) {
    PosixCommand command;
    bool switchesEnded = false;
    for (const std::string& arg : args) {
        if (arg.empty()) continue;
        if (switchesEnded) {
            Append(command.CommandLine, AsMovieNames(arg));
        } else if (arg == "--") {
            switchesEnded = true;
        } else if (arg == "--help" || arg == "-h" || arg == "--version") {
            command.Request = arg == "--version" ? PosixRequest::Version : PosixRequest::Help;
            return command;
        } else if (arg == "--messages=box" || arg == "--messages=terminal") {
            command.Messages =
                arg == "--messages=box" ? MessageChoice::Box : MessageChoice::Terminal;
        } else if (arg.rfind("--", 0) == 0) {
            command.Request = PosixRequest::UsageError;
            command.Problem = "unknown option " + arg;
        } else {
            Append(command.CommandLine, Translate(arg));
        }
    }
    return command;
}

bool ExpandArgumentName(char* name, std::size_t capacity) {
    if (name[0] != kNameStandIn || name[1] == '\0') return false;
    std::size_t index = 0;
    for (const char* digit = name + 1; *digit; ++digit) {
        if (!IsDigit(*digit)) return false;
        index = index * 10 + static_cast<std::size_t>(*digit - '0');
        if (index >= StoodInNames().size()) return false;
    }
    const std::string& stoodIn = StoodInNames()[index];
    if (stoodIn.size() >= capacity) return false;
    std::memcpy(name, stoodIn.c_str(), stoodIn.size() + 1);
    return true;
}

std::string PosixUsageText() {
    std::string text = std::string(UsageCaption()) + "\n\n" + UsageText();
    for (std::size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos;) text.erase(at, 1);
    text +=
        "\n\n  Switches may also be written with '-' (-L3 -S). An argument starting with '/'"
        "\n  is a movie name when a file of that name exists, when it holds a '.' or when"
        "\n  its first folder exists (/tmp/gone.zmb); otherwise it is switches, and one that"
        "\n  is not a switch is refused. Every other argument, and every argument after"
        "\n  \"--\", is a movie name. A name without an extension gets \".Zmb\", matched"
        "\n  ignoring case. A folder plays the movies (*.zmb, any case) in it in name order."
        "\n  --help shows this text, --version the version."
        "\n\n  Messages go to standard error, and the player goes on without waiting;"
        "\n  --messages=box (or ZAMBREL_MESSAGES=box) shows them in boxes instead, as the"
        "\n  desktop entry does. --messages=terminal or ZAMBREL_MESSAGES=terminal is the"
        "\n  default; the option wins over the environment."
        "\n\n  Keys while playing:"
        "\n    Space   \t- Pause, and play on."
        "\n    Enter   \t- Show the next frame while paused."
        "\n    .       \t- Skip to the next movie."
        "\n    Escape, q\t- Stop playing (closing the window does the same)."
        "\n    m       \t- Mute, and sound again."
        "\n    9, 0    \t- Volume down, up."
        "\n    Left, Right\t- Back, forward 5 seconds; with Shift, one frame."
        "\n    f       \t- Fill the display, and back (a double-click does the same)."
        "\n\n  Exit status:"
        "\n    0 every movie played, or was skipped or stopped with the keys;"
        "\n    1 a movie could not be opened or was damaged, the display set in DISPLAY or"
        "\n      WAYLAND_DISPLAY could not be opened or the window not made, or this text"
        "\n      could not be written;"
        "\n    2 a usage error (a bad switch or option, no movie, a name too long).\n";
    return text;
}

std::string PosixVersionText() {
    return std::string("zambply (Zambrel) ") + ZAMBREL_VERSION + "\n" + kApplicationName + " V" +
           kVersionText + " - " + kCopyrightNotice + "\nsound: " + DescribeSoundOutput() +
           " (ZAMBREL_AUDIO=sdl|simulated|none and SDL_AUDIODRIVER choose)\n";
}
