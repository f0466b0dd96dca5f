// SPDX-License-Identifier: MIT
// The shared library exports the operations its public headers declare, and nothing else:
// no internal global, stand-in function or C++ symbol can collide with an embedder's names.
// And it carries no window system: an embedder that only decodes gets no windows, no GDI,
// no SDL host, and needs nothing beyond the C and C++ runtimes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> OutputLines(const std::string& command) {
    std::vector<std::string> lines;
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return lines;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe)) lines.emplace_back(line);
    EXPECT_EQ(pclose(pipe), 0) << command;
    return lines;
}

// The names nm prints, defined or not, of the kinds given (all when empty): each symbol line
// ends in its kind letter and its name.
std::set<std::string> SymbolNames(const std::string& nmArguments, const std::string& kinds = "") {
    std::set<std::string> names;
    for (const std::string& line : OutputLines("nm " + nmArguments)) {
        std::istringstream fields(line);
        std::vector<std::string> words;
        for (std::string word; fields >> word;) words.push_back(word);
        if (words.size() < 2 || words.back().back() == ':') continue;
        const std::string& kind = words[words.size() - 2];
        if (kinds.empty() || (kind.size() == 1 && kinds.find(kind[0]) != std::string::npos))
            names.insert(words.back());
    }
    return names;
}

std::set<std::string> DefinedDynamicSymbols(const std::string& file) {
    return SymbolNames("-D --defined-only '" + file + "'");
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
    ASSERT_EQ(declared.size(), 13u + 14u + 30u);  // the system's decoder, the blitter, embedding
    EXPECT_EQ(exported, declared);
}

TEST(Exports, NeedOnlyTheCAndCxxRuntimes) {
    const std::regex needed(R"(\(NEEDED\)\s+Shared library: \[(.*)\])");
    // A sanitized build links its checkers' runtimes as well.
    const std::regex runtime(
        ZAMBREL_SANITIZED
            ? R"(lib(c|m|stdc\+\+|gcc_s|asan|ubsan)\.so\.\d+|ld-linux[-\w.]*\.so\.\d+)"
            : R"(lib(c|m|stdc\+\+|gcc_s)\.so\.\d+|ld-linux[-\w.]*\.so\.\d+)");
    int count = 0;
    for (const std::string& line : OutputLines("readelf -d '" ZAMBREL_LIBRARY_FILE "'")) {
        std::smatch match;
        if (!std::regex_search(line, match, needed)) continue;
        ++count;
        EXPECT_TRUE(std::regex_match(match[1].str(), runtime)) << "needs " << match[1];
    }
    EXPECT_GE(count, 3);  // the list was read at all
}

// Every function and variable the window stand-in defines is absent from the library's whole
// symbol table, defined or wanted, and so is every SDL name: SDL2 is looked up at run time,
// by string. (Weak symbols are the templates and inline functions everyone instantiates.)
TEST(Exports, CarryNoWindowSystem) {
    const std::set<std::string> inside = SymbolNames("'" ZAMBREL_LIBRARY_FILE "'");
    const std::set<std::string> windowSystem =
        SymbolNames("--defined-only --extern-only '" ZAMBREL_GUI_ARCHIVE "'", "TDBR");
    ASSERT_TRUE(std::any_of(inside.begin(), inside.end(), [](const std::string& name) {
        return name.find("SoundInstallWaveOut") != std::string::npos;
    })) << "the library's own symbol table was not read";
    ASSERT_TRUE(std::any_of(windowSystem.begin(), windowSystem.end(), [](const std::string& name) {
        return name.find("CreateWindowExA") != std::string::npos;
    })) << "the window stand-in was not read";
    // The window calls the sound drivers make, which the library answers itself: there is
    // no window to find (src/library/no_windows.cpp).
    const auto answeredInside = [](const std::string& name) {
        for (const char* call : {"EnumWindows", "GetActiveWindow", "GetWindowThreadProcessId"})
            if (name.find(call) != std::string::npos) return true;
        return false;
    };
    for (const std::string& name : windowSystem) {
        if (!answeredInside(name)) {
            EXPECT_FALSE(inside.count(name)) << name;
        }
    }
    for (const std::string& name : inside) EXPECT_NE(name.rfind("SDL_", 0), 0u) << name;
}

}  // namespace
