// SPDX-License-Identifier: MIT
// Why a frame could not be decoded, in the words zmbtool verify uses for the same damage, so
// that a user who checks the movie there recognises what the player said.
#include "player/damage_report.h"

#include <cstdint>

namespace {

constexpr const char* kTreeNames[] = {"pattern", "colour", "full", "type"};

std::string WhatIsWrongWithTree(int tree, const TreeFaults& faults) {
    const std::string read = std::string("the picture reads the ") + kTreeNames[tree] + " tree";
    if (faults.absent & (1u << tree)) return read + ", which the movie does not store";
    return read + ", whose size of " + std::to_string(faults.size[tree]) +
           " bytes is short of the " + std::to_string(faults.needed[tree]) + " its nodes need";
}

}  // namespace

std::string DescribePictureDamage(const PictureDamage& damage, const TreeFaults& faults) {
    if (damage.ranOut) return "the picture's stream ends before its last block";
    for (int tree = 0; tree < 4; ++tree)
        if (damage.badTrees & (1u << tree)) return WhatIsWrongWithTree(tree, faults);
    return "";
}
