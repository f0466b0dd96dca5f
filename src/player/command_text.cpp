// SPDX-License-Identifier: MIT
// Blanks and movie names on the player's command line.
#include "player/command_text.h"

#include <cstring>

void TrimBlanks(char* text) {
    std::size_t start = 0;
    while (IsBlank(text[start])) ++start;
    std::size_t end = std::strlen(text);
    while (end > start && IsBlank(text[end - 1])) --end;
    std::memmove(text, text + start, end - start);
    text[end - start] = '\0';
}

namespace {

// The name runs to the first blank; the separator is the blanks after it and then at most
// one ',', so "a.zmb , b.zmb" is two names.
const char* SplitUnquoted(const char* list, const char** nameEnd) {
    const char* end = list;
    while (*end && !IsBlank(*end)) ++end;
    *nameEnd = end;
    const char* rest = end;
    while (IsBlank(*rest)) ++rest;
    if (*rest == ',') ++rest;
    return rest;
}

}  // namespace

bool SplitFirstName(char* name, std::size_t nameCapacity, char* list) {
    name[0] = '\0';
    const char* start = list;
    while (IsBlank(*start)) ++start;
    const char* nameEnd = start;
    const char* rest = start;
    if (*start == '"') {
        const char* closing = std::strchr(start + 1, '"');
        if (closing) {
            ++start;
            nameEnd = closing;
            rest = closing + 1;
        } else {  // an unclosed quote: the whole rest, quote and all, is the name
            nameEnd = rest = start + std::strlen(start);
        }
    } else {
        rest = SplitUnquoted(start, &nameEnd);
    }
    auto length = static_cast<std::size_t>(nameEnd - start);
    bool fits = length < nameCapacity;
    if (fits) {
        std::memcpy(name, start, length);
        name[length] = '\0';
    }
    std::memmove(list, rest, std::strlen(rest) + 1);
    TrimBlanks(name);
    TrimBlanks(list);
    return fits;
}

bool HasExtension(const char* name) {
    for (std::size_t i = std::strlen(name); i > 0; --i) {
        char c = name[i - 1];
        if (c == '.') return true;
        if (c == ':' || c == '\\') return false;
    }
    return false;
}
