// SPDX-License-Identifier: MIT
// Sound is not connected to the decoder yet: no track opens, so movies play silent and
// paced by the clock. This file is the one place that says so; it goes when sound lands.
#include "decoder/audio.h"

void OpenMovieTracks(Movie*, std::uint32_t) {}
void CloseMovieTracks(Movie*) {}
void RestartMovieTracks(Movie*) {}
void FeedAudio(Movie*) {}
bool VideoIsLate(Movie*) { return false; }
