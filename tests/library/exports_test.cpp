// SPDX-License-Identifier: MIT
// The shared library exports the operations its public headers declare, and nothing else:
// no internal global, stand-in function or C++ symbol can collide with an embedder's names.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

std::set<std::string> DefinedDynamicSymbols(const std::string& file) {
    std::set<std::string> names;
    const std::string command = "nm -D --defined-only '" + file + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return names;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe)) {
        std::istringstream fields(line);
        std::string address, kind, name;
        if (fields >> address >> kind >> name) names.insert(name);
    }
    pclose(pipe);
    return names;
}

// Every operation a public header marks for export.
std::set<std::string> DeclaredOperations(const std::string& folder) {
    std::set<std::string> names;
    const std::regex declaration(R"(ZAMBREL_PUBLIC[^;(]*\b(Zamb\w+)\s*\()");
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::ifstream in(entry.path());
        std::stringstream text;
        text << in.rdbuf();
        const std::string header = text.str();
        for (std::sregex_iterator it(header.begin(), header.end(), declaration), end; it != end;
             ++it)
            names.insert((*it)[1]);
    }
    return names;
}

TEST(Exports, ExactlyThePublicOperations) {
    const std::set<std::string> exported = DefinedDynamicSymbols(ZAMBREL_LIBRARY_FILE);
    const std::set<std::string> declared = DeclaredOperations(ZAMBREL_PUBLIC_HEADERS);
    ASSERT_EQ(declared.size(), 13u + 14u + 22u);  // the system's decoder, the blitter, embedding
    EXPECT_EQ(exported, declared);
}

}  // namespace
