// SPDX-License-Identifier: MIT
// zmbtool: inspect, decode, encode and make self-playing copies of Zambrel movies.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "command.h"

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
    std::fprintf(out, "\n`zmbtool COMMAND --help` describes a command.\n");
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
        return args.empty() ? 1 : 0;
    }
    for (const zmbtool::Command& command : zmbtool::Commands()) {
        if (args[0] == command.name) return command.run({args.begin() + 1, args.end()});
    }
    return zmbtool::Fail("unknown command '" + args[0] + "' (try zmbtool --help)");
}
