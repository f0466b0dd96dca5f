// SPDX-License-Identifier: MIT
// The per-user profile: one INI file of sections and integer values.
#include <strings.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/standin/kernel/kernel.h"
#include "platform/standin/kernel/seams.h"

namespace {

std::string Trim(const std::string& text) {
    std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    std::size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// The integer at the start of a value: an optional sign, then decimal digits or a 0x
// hexadecimal number. Text that starts with neither reads as 0, as on Windows.
UINT ParseProfileInteger(const std::string& value) {
    const char* p = value.c_str();
    bool negative = false;
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    unsigned long long number = 0;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        for (p += 2; std::isxdigit(static_cast<unsigned char>(*p)); ++p)
            number =
                number * 16 + (std::isdigit(static_cast<unsigned char>(*p))
                                   ? *p - '0'
                                   : (std::tolower(static_cast<unsigned char>(*p)) - 'a' + 10));
    } else {
        for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) number = number * 10 + (*p - '0');
    }
    auto low = static_cast<UINT>(number);
    return negative ? 0u - low : low;
}

bool FindValue(const std::string& path, const char* section, const char* key, std::string* value) {
    std::ifstream file(path);
    if (!file) return false;
    std::string line;
    bool inSection = false;
    while (std::getline(file, line)) {
        std::string text = Trim(line);
        if (text.empty() || text[0] == ';' || text[0] == '#') continue;
        if (text.front() == '[' && text.back() == ']') {
            inSection = ::strcasecmp(Trim(text.substr(1, text.size() - 2)).c_str(), section) == 0;
            continue;
        }
        std::size_t equals = text.find('=');
        if (!inSection || equals == std::string::npos) continue;
        if (::strcasecmp(Trim(text.substr(0, equals)).c_str(), key) == 0) {
            *value = Trim(text.substr(equals + 1));
            return true;
        }
    }
    return false;
}

}  // namespace

namespace standin {

std::string ProfilePath() {
    if (const char* explicitPath = std::getenv("ZAMBREL_PROFILE"); explicitPath && *explicitPath)
        return explicitPath;
    std::string config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) {
        config = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        config = std::string(home) + "/.config";
    } else {
        return "";
    }
    return config + "/zambrel/profile.ini";
}

}  // namespace standin

UINT WINAPI GetProfileIntA(LPCSTR appName, LPCSTR keyName, INT defaultValue) {
    std::string value;
    if (!appName || !keyName || !FindValue(standin::ProfilePath(), appName, keyName, &value))
        return static_cast<UINT>(defaultValue);
    return ParseProfileInteger(value);
}
