// SPDX-License-Identifier: MIT
// Self-play combination and the start of a run's list of movie names.
#include "player/selfplay.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "core/mmx.h"
#include "player/messages.h"
#include "player/switches.h"

SelfPlayField SelfPlay = {
    {'S', 'E', 'L', 'F', 'P', 'L', 'A', 'Y'}, {}, {'Z', 'A', 'M', 'B', 'R', 'E', 'L', '!'}};

namespace {

// The configuration's own switches first; then the real command line is appended to what
// they left (":OFFSET") and parsed again, so that its switches win.
char* CombineSelfPlay(char* commandLine) {
    char* config = SelfPlay.Config;
    config[kSelfPlayConfigCapacity - 1] = '\0';  // a patched field may lack its zero
    if (!ParseSwitches(config)) return nullptr;
    std::size_t used = std::strlen(config);
    std::size_t added = std::strlen(commandLine);
    if (used + 1 + added >= kSelfPlayConfigCapacity) {
        ShowUsage("a self-playing copy takes at most " +
                  std::to_string(
                      used + 2 < kSelfPlayConfigCapacity ? kSelfPlayConfigCapacity - 2 - used : 0) +
                  " bytes of command line after its own switches");
        return nullptr;
    }
    config[used] = ' ';
    std::memcpy(config + used + 1, commandLine, added + 1);
    return config;
}

bool OnlyBlanks(const char* text) {
    while (IsBlank(*text)) ++text;
    return *text == '\0';
}

}  // namespace

bool StartPlayList(char* commandLine, PlayList& list) {
    if (SelfPlay.Config[0] != '\0') {
        commandLine = CombineSelfPlay(commandLine);
        if (!commandLine) return false;
    }
    if (!ParseSwitches(commandLine)) return false;
    TrimBlanks(commandLine);
    // Switches without a movie (such as a lone "/S") are as empty as no text at all.
    if (OnlyBlanks(commandLine)) {
        ShowUsage("no movie given");
        return false;
    }
    if (std::strlen(commandLine) >= kNameListCapacity) {
        ShowUsage("the movie names take more than " + std::to_string(kNameListCapacity - 1) +
                  " bytes");
        return false;
    }
    if (Settings.NoMMX) ZambUseMmx(0);
    list.CommandLine = commandLine;
    RefillPlayList(list);
    if (!SplitFirstName(list.Current, sizeof list.Current, list.Remaining)) {
        ShowUsage("a movie name is longer than " + std::to_string(kMovieNameCapacity - 1) +
                  " bytes");
        return false;
    }
    list.MultipleMovies = list.Remaining[0] != '\0';
    return true;
}

void TakeNextName(PlayList& list) {
    if (!SplitFirstName(list.Current, sizeof list.Current, list.Remaining)) list.Current[0] = '\0';
}

void RefillPlayList(PlayList& list) {
    std::size_t length = std::min(std::strlen(list.CommandLine), kNameListCapacity - 1);
    std::memcpy(list.Remaining, list.CommandLine, length);
    list.Remaining[length] = '\0';
}

bool NamesOwnFile(const char* name) {
    return name[0] == ':';
}

bool AddMovieExtension(char* name, std::size_t capacity) {
    if (HasExtension(name)) return true;
    std::size_t length = std::strlen(name);
    if (length + sizeof kMovieExtension > capacity) return false;
    std::memcpy(name + length, kMovieExtension, sizeof kMovieExtension);
    return true;
}

namespace {

// The offset is plain decimal; anything after its digits is ignored, as a number reader
// would. Offsets beyond 4 GB are out of reach of the file pointer and are refused.
bool ReadOffset(const char* digits, std::uint64_t* offset) {
    std::uint64_t value = 0;
    for (; *digits >= '0' && *digits <= '9'; ++digits) {
        value = value * 10 + static_cast<std::uint64_t>(*digits - '0');
        if (value > 0xFFFFFFFFu) return false;
    }
    *offset = value;
    return true;
}

}  // namespace

HANDLE OpenOwnFileAt(const char* name) {
    std::uint64_t offset = 0;
    char path[MAX_PATH + 1];
    if (!ReadOffset(name + 1, &offset)) return INVALID_HANDLE_VALUE;
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    if (length == 0 || length >= sizeof path - 1) return INVALID_HANDLE_VALUE;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    LONG high = static_cast<LONG>(offset >> 32);
    SetLastError(ERROR_SUCCESS);
    DWORD low = SetFilePointer(file, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != ERROR_SUCCESS) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}
