// SPDX-License-Identifier: MIT
// Self-playing copies, made from the plain player's file.
#include "selfplay/copy.h"

#include <algorithm>
#include <cstring>

#include "selfplay/field.h"

bool FindSelfPlayField(const std::vector<char>& program, std::size_t* at, std::string* error) {
    constexpr std::size_t kEndAt = offsetof(SelfPlayField, End);
    std::size_t found = 0;
    for (auto it = program.begin();
         (it = std::search(it, program.end(), kSelfPlayTag, kSelfPlayTag + 8)) != program.end();
         ++it) {
        auto start = static_cast<std::size_t>(it - program.begin());
        if (start + sizeof(SelfPlayField) > program.size()) break;
        if (std::memcmp(program.data() + start + kEndAt, kSelfPlayEnd, 8) != 0) continue;
        if (found++ == 0) *at = start;
    }
    if (found == 1) return true;
    *error = found == 0 ? "no self-play field in the player" : "more than one self-play field";
    return false;
}

namespace {

bool FieldIsEmpty(const std::vector<char>& player, std::size_t at) {
    const char* config = player.data() + at + offsetof(SelfPlayField, Config);
    return std::all_of(config, config + kSelfPlayConfigCapacity, [](char c) { return c == 0; });
}

}  // namespace

bool MakeSelfPlayCopy(const std::vector<char>& player, const std::vector<char>& movie,
                      const std::string& switches, std::vector<char>* copy, std::string* error) {
    std::size_t at = 0;
    if (!FindSelfPlayField(player, &at, error)) return false;
    if (!FieldIsEmpty(player, at)) {
        *error = "the player is already a self-playing copy";
        return false;
    }
    // The offset is read back as a 32-bit file position.
    if (player.size() > 0xFFFFFFFFu) {
        *error = "the player is too large";
        return false;
    }
    std::string config = ":" + std::to_string(player.size());
    if (!switches.empty()) config += " " + switches;
    if (config.size() >= kSelfPlayConfigCapacity || config.find('\0') != std::string::npos) {
        *error = "the switches do not fit the self-play field (" +
                 std::to_string(kSelfPlayConfigCapacity - 1) + " characters with the offset)";
        return false;
    }
    *copy = player;
    std::memcpy(copy->data() + at + offsetof(SelfPlayField, Config), config.data(), config.size());
    copy->insert(copy->end(), movie.begin(), movie.end());
    return true;
}
