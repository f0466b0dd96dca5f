// SPDX-License-Identifier: MIT
// Why a frame could not be decoded, in words for the user's standard error.
#pragma once

#include <string>

#include "decoder/frame_damage.h"

// Empty when DAMAGE names nothing; else what went wrong with the frame's picture, the
// stream's end first, then the first tree it read that the movie does not hold whole.
std::string DescribePictureDamage(const PictureDamage& damage, const TreeFaults& faults);

// Empty when DAMAGE names no track; else what is wrong with the track's sound chunk.
std::string DescribeSoundDamage(const SoundDamage& damage);
