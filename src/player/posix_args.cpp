// SPDX-License-Identifier: MIT
// Turning POSIX arguments into the player's command line.
#include "player/posix_args.h"

#include <filesystem>
#include <system_error>

#include "player/settings.h"

namespace {

bool IsSwitchLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '@' || c == '#';
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

std::string AsMovieName(const std::string& arg) {
    std::string name = arg;
    for (char& c : name)
        if (c == '/') c = '\\';
    bool hasBlank = false;
    for (char c : name) hasBlank = hasBlank || IsBlank(c);
    return hasBlank ? "\"" + name + "\"" : name;
}

std::string Translate(const std::string& arg) {
    if (arg.size() >= 2 && arg[0] == '-' && IsSwitchLetter(arg[1])) return "/" + arg.substr(1);
    if (!arg.empty() && arg[0] == '/' && !NamesExistingFile(arg)) return arg;
    return AsMovieName(arg);
}

}  // namespace

bool AsksForHelp(const std::vector<std::string>& args) {
    for (const std::string& arg : args)
        if (arg == "--help") return true;
    return false;
}

std::string CommandLineFromArguments(const std::vector<std::string>& args) {
    std::string text;
    for (const std::string& arg : args) {
        if (arg.empty()) continue;
        if (!text.empty()) text += ' ';
        text += Translate(arg);
    }
    return text;
}

std::string PosixUsageText() {
    std::string text = std::string(UsageCaption()) + "\n\n" + UsageText();
    for (std::size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos;) text.erase(at, 1);
    text +=
        "\n\n  Switches may also be written with '-' (-L3 -S). An argument starting with '/'"
        "\n  is a switch unless a file of that name exists. Other arguments are movie names;"
        "\n  a name without an extension gets \".Zmb\", matched ignoring case.\n";
    return text;
}
