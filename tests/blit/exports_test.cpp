// SPDX-License-Identifier: MIT
// The shared library exports the fourteen blitter operations by their plain names.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

namespace {

std::set<std::string> DynamicSymbols(const std::string& file) {
    std::set<std::string> names;
    const std::string command = "nm -D --defined-only '" + file + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return names;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        const auto space = text.rfind(' ');
        if (space == std::string::npos || space + 2 >= text.size() || text[space - 1] != 'T')
            continue;
        // nm shows a versioned export as NAME@@NODE; the name is what callers look up.
        const std::string symbol = text.substr(space + 1);
        names.insert(symbol.substr(0, symbol.find('@')));
    }
    pclose(pipe);
    return names;
}

TEST(BlitExports, LibraryExportsEveryOperationByName) {
    const std::set<std::string> symbols = DynamicSymbols(ZAMBREL_LIBRARY_FILE);
    ASSERT_FALSE(symbols.empty()) << "could not read the symbols of " << ZAMBREL_LIBRARY_FILE;
    const char* const operations[] = {
        "ZambBlitOpen",           "ZambBlitClose",          "ZambBlitSetPalette",
        "ZambBlitSetFlags",       "ZambBlitString",         "ZambBlit",
        "ZambBlitTrans",          "ZambBlitMask",           "ZambBlitMerge",
        "ZambBlitClear",          "ZambBufferToBuffer",     "ZambBufferToBufferTrans",
        "ZambBufferToBufferMask", "ZambBufferToBufferMerge"};
    for (const char* name : operations) EXPECT_TRUE(symbols.count(name)) << name;
}

}  // namespace
