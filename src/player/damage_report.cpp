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

std::string DescribeSoundDamage(const SoundDamage& damage) {
    if (damage.track < 0) return "";
    const std::string chunk = "track " + std::to_string(damage.track) + "'s sound chunk";
    if (damage.claimed > damage.limit) {
        return chunk + " claims " + std::to_string(damage.claimed) + " bytes, more than the " +
               std::to_string(damage.limit) + " its track's largest chunk may hold";
    }
    return chunk + "'s stream ends after " + std::to_string(damage.delivered) + " of its " +
           std::to_string(damage.claimed) + " bytes";
}
