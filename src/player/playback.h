// SPDX-License-Identifier: MIT
// The playback loop: every movie of the command line opened, shown frame by frame at its
// pace with the keys and the focus followed, looped as asked and closed.
#pragma once

// Returns when everything is played, stopped or refused. `commandLine` (kCommandLineCapacity
// bytes) is parsed in place and emptied by a stop.
void PlayMovies(char* commandLine);
