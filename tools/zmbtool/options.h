// SPDX-License-Identifier: MIT
// The option-table parsing every zmbtool command shares, so that all of them treat unknown
// options, missing values and --help alike.
#pragma once

#include <cstdio>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "command.h"

namespace zmbtool {

template <typename Options>
struct Option {
    const char* name;
    bool takesValue;
    bool (*apply)(Options&, const std::string&);
    // Given more than once, an option is refused (which one was meant?) unless it may be.
    bool repeatable = false;
};

// What ParseOptions returns besides 0 (parsed) and 1 (an error was reported).
inline constexpr int kHelpShown = 2;

// Applies each option of ARGS found in OPTIONS to O, and gathers the other arguments into
// POSITIONAL, refusing more than MAX_POSITIONAL of them. An option's value follows it, or
// its name and '=' (--quality=80). COMMAND names the command in messages; HELP is printed
// for --help. OWNERS, when given, receives for each argument the name of the option it
// belongs to (the option itself or its value), or "" for a positional one, so that a caller
// can hand the arguments on in parts. "--" ends the options: all after it are positional.
template <typename Options>
int ParseOptions(const char* command, const char* help, const std::vector<std::string>& args,
                 std::span<const Option<Options>> options, Options& o,
                 std::vector<std::string>& positional, std::size_t maxPositional,
                 std::vector<std::string>* owners = nullptr) {
    if (owners != nullptr) owners->assign(args.size(), "");
    const std::string prefix = std::string(command) + ": ";
    std::set<std::string> given;
    for (std::size_t i = 0; i < args.size(); ++i) {
        // "--" ends the options, so that a movie named -x.zmb can be given after it.
        if (args[i] == "--") {
            if (args.size() - i - 1 > maxPositional - positional.size())
                return Fail(prefix + "unknown argument " + args.back());
            positional.insert(positional.end(), args.begin() + std::ptrdiff_t(i) + 1, args.end());
            return 0;
        }
        if (args[i] == "--help") return std::fputs(help, stdout), kHelpShown;
        const std::size_t equals =
            args[i].rfind("--", 0) == 0 ? args[i].find('=') : std::string::npos;
        const std::string name = args[i].substr(0, equals);
        const Option<Options>* found = nullptr;
        for (const Option<Options>& option : options)
            if (name == option.name) found = &option;
        if (found == nullptr) {
            if (args[i].rfind("--", 0) == 0 || positional.size() == maxPositional)
                return Fail(prefix + "unknown argument " + args[i]);
            positional.push_back(args[i]);
            continue;
        }
        if (owners != nullptr) (*owners)[i] = found->name;
        if (!found->repeatable && !given.insert(name).second)
            return Fail(prefix + name + " is given twice");
        std::string value;
        if (equals != std::string::npos) {
            if (!found->takesValue) return Fail(prefix + name + " takes no value");
            value = args[i].substr(equals + 1);
        } else if (found->takesValue) {
            if (i + 1 >= args.size()) return Fail(prefix + found->name + " needs a value");
            value = args[++i];
            if (owners != nullptr) (*owners)[i] = found->name;
        }
        if (!found->apply(o, value))
            return Fail(prefix + "bad value for " + found->name + ": " + value);
    }
    return 0;
}

}  // namespace zmbtool
