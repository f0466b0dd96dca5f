// SPDX-License-Identifier: MIT
// The self-play field's layout: what the player reads from its own data and zmbtool writes
// into a copy of the player's file, so both must agree on it byte for byte.
#pragma once

#include <cstddef>

// The field is found in the program file by its tag with the end marker at a fixed
// distance after it; zmbtool writes a copy's configuration into it.
constexpr char kSelfPlayTag[8] = {'S', 'E', 'L', 'F', 'P', 'L', 'A', 'Y'};
constexpr char kSelfPlayEnd[8] = {'Z', 'A', 'M', 'B', 'R', 'E', 'L', '!'};
constexpr std::size_t kSelfPlayConfigCapacity = 208;

struct SelfPlayField {
    char Tag[8];                           // "SELFPLAY"
    char Config[kSelfPlayConfigCapacity];  // ":OFFSET switches", zero-filled; empty in a plain
                                           // player
    char End[8];                           // "ZAMBREL!", never read
};
static_assert(sizeof(SelfPlayField) == 224, "the field is found in the program file by its size");
