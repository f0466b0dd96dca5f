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
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "zambrel/decoder.h"

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

// The library's exported operations, each with the version node nm names after "@@" (the
// nodes themselves, absolute symbols of their own, are left out).
std::map<std::string, std::string> VersionedExports(const std::string& file) {
    std::map<std::string, std::string> exports;
    for (const std::string& symbol : SymbolNames("-D --defined-only '" + file + "'")) {
        const std::size_t at = symbol.find('@');
        if (symbol.rfind("ZAMBREL_", 0) == 0) continue;
        exports[symbol.substr(0, at)] =
            at == std::string::npos ? "" : symbol.substr(symbol.find_first_not_of('@', at));
    }
    return exports;
}

std::set<std::string> DefinedDynamicSymbols(const std::string& file) {
    std::set<std::string> names;
    for (const auto& [name, node] : VersionedExports(file)) names.insert(name);
    return names;
}

std::string FileText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
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
    ASSERT_EQ(declared.size(), 13u + 14u + 31u);  // the system's decoder, the blitter, embedding
    EXPECT_EQ(exported, declared);
}

bool Prefixed(const std::string& name) {
    return name.rfind("ZAMB", 0) == 0 || name.rfind("Zamb", 0) == 0 ||
           name.rfind("zambrel", 0) == 0;
}

// The compiler's view of a header (`-dM`: its macros; `-E -P`: its code), behind the C
// headers it includes, which the baseline without the header holds as well.
std::string Preprocessed(const std::string& header, const char* mode) {
    const std::string command = std::string("cc -std=c99 ") + mode +
                                " -x c -include stddef.h -include stdint.h " +
                                (header.empty() ? "" : "-include '" + header + "' ") + "/dev/null";
    std::string text;
    for (const std::string& line : OutputLines(command)) text += line;
    return text;
}

// Macros, then tags and type names, that the text defines.
std::set<std::string> DefinedNames(const std::string& header) {
    static const std::regex macro(R"(#define (\w+))");
    static const std::regex tag(R"(\b(?:struct|enum|union)\s+(\w+))");
    static const std::regex typeName(R"(\btypedef\b[^;{]*(?:\{[^}]*\})?[^;]*?\b(\w+)\s*;)");
    std::set<std::string> names;
    const std::string macros = Preprocessed(header, "-E -dM");
    const std::string code = Preprocessed(header, "-E -P");
    for (const auto& [text, pattern] :
         {std::pair{&macros, &macro}, {&code, &tag}, {&code, &typeName}})
        for (std::sregex_iterator it(text->begin(), text->end(), *pattern), end; it != end; ++it)
            names.insert((*it)[1]);
    return names;
}

// An embedding program's own names never meet the headers' (an engine's BLOCK_SKIP enum, its
// class Movie): every macro, tag and type name a header adds carries the library's prefix,
// in the headers as they are now and as they grow.
TEST(Exports, HeadersAddOnlyPrefixedNames) {
    const std::set<std::string> before = DefinedNames("");
    ASSERT_TRUE(before.count("int32_t") && before.count("INT32_MAX")) << "the compiler was not run";
    int headers = 0;
    for (const auto& entry : std::filesystem::directory_iterator(ZAMBREL_PUBLIC_HEADERS)) {
        SCOPED_TRACE(entry.path().string());
        ++headers;
        const std::set<std::string> after = DefinedNames(entry.path().string());
        EXPECT_TRUE(after.count("ZAMBREL_PUBLIC")) << "the header was not read";
        for (const std::string& name : after) {
            if (!before.count(name)) {
                EXPECT_TRUE(Prefixed(name)) << name;
            }
        }
    }
    EXPECT_GE(headers, 4);
}

// Each operation under the node of the release that added it, alike in the version script,
// the built library and the Debian symbols file; the symbols file asks of each at least the
// release of its node, and the newest node is this release's.
TEST(Exports, VersionNodesAgreeWithTheScriptAndTheSymbolsFile) {
    std::map<std::string, std::string> script;
    const std::string map = FileText(ZAMBREL_VERSION_SCRIPT);
    const std::regex node(R"((ZAMBREL_\d+\.\d+)\s*\{([^}]*)\})"), name(R"(\b(Zamb\w+)\s*;)");
    for (std::sregex_iterator n(map.begin(), map.end(), node), end; n != end; ++n) {
        const std::string body = (*n)[2];
        for (std::sregex_iterator it(body.begin(), body.end(), name); it != end; ++it)
            script[(*it)[1]] = (*n)[1];
    }
    std::map<std::string, std::string> symbols, minimum;
    std::set<std::string> nodesListed;
    const std::string listed = FileText(ZAMBREL_SYMBOLS_FILE);
    const std::regex entry(R"(\n ([\w.]+)@(ZAMBREL_(\d+\.\d+)) (\d+\.\d+)\.\d+)");
    for (std::sregex_iterator it(listed.begin(), listed.end(), entry), end; it != end; ++it) {
        if ((*it)[1] == (*it)[2]) {
            nodesListed.insert((*it)[2]);
            EXPECT_EQ((*it)[3], (*it)[4]) << "node " << (*it)[2] << " is of its own release";
            continue;
        }
        symbols[(*it)[1]] = (*it)[2];
        // Versions 0.x compare as text while the minor stays one digit.
        EXPECT_GE((*it)[4].str(), (*it)[3].str()) << (*it)[1] << " asks less than its node";
    }
    const std::map<std::string, std::string> library = VersionedExports(ZAMBREL_LIBRARY_FILE);
    EXPECT_EQ(library, script);
    EXPECT_EQ(symbols, script);
    std::set<std::string> nodes;
    for (const auto& [operation, version] : script) nodes.insert(version);
    EXPECT_EQ(nodesListed, nodes);
    EXPECT_EQ(std::count_if(script.begin(), script.end(),
                            [](const auto& e) { return e.second == "ZAMBREL_0.1"; }),
              44);
    const std::string release =
        std::to_string(ZAMBREL_VERSION_MAJOR) + "." + std::to_string(ZAMBREL_VERSION_MINOR);
    EXPECT_EQ(*nodes.rbegin(), "ZAMBREL_" + release);
}

// One version everywhere it is written: the headers, the library, the build, the Debian
// changelog.
TEST(Exports, OneVersionEverywhere) {
    const std::string header = std::to_string(ZAMBREL_VERSION_MAJOR) + "." +
                               std::to_string(ZAMBREL_VERSION_MINOR) + "." +
                               std::to_string(ZAMBREL_VERSION_PATCH);
    EXPECT_EQ(header, ZAMBREL_PROJECT_VERSION);
    EXPECT_EQ(ZambVersionString(), header);
    EXPECT_EQ(ZambVersion(), ZAMBREL_VERSION);
    const std::string changelog = FileText(ZAMBREL_DEBIAN_CHANGELOG);
    EXPECT_EQ(changelog.substr(0, changelog.find(')') + 1), "zambrel (" + header + ")");
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
    // The window calls the sound code makes, which the library answers itself: there is no
    // window to find (src/library/no_windows.cpp). Matched up to the mangled name's length, so
    // that IsWindow does not let IsWindowVisible through.
    const auto answeredInside = [](const std::string& name) {
        for (const char* call :
             {"_Z11EnumWindows", "_Z15GetActiveWindow", "_Z24GetWindowThreadProcessId",
              "_Z8IsWindow", "_ZN7standin16WindowTreeActive"})
            if (name.rfind(call, 0) == 0) return true;
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
