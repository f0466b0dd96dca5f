// SPDX-License-Identifier: MIT
// zmbtool decode of several movies into folders: each movie is decoded by a zmbtool process
// of its own, with the one-movie command line for it, so that a movie that fails, crashes or
// is stopped touches no other movie's outputs, and each movie's outputs stay one transaction.
#pragma once

#include <string>
#include <vector>

namespace zmbtool {

// A decode of several movies, as its command line gave it.
struct BatchRequest {
    std::vector<std::string> movies;
    std::vector<std::string> args;    // decode's arguments, the movies among them
    std::vector<std::string> owners;  // for each argument, the option it belongs to; "" for a movie
    unsigned jobs = 0;                // movies decoded at once; 0 for one per processor
};

// The value of -j / --jobs: a whole number from 1 to the most zmbtool runs at once.
bool ParseJobs(const std::string& text, unsigned* jobs);

// Every output option must name an existing folder; each movie's outputs are named after it
// there (A.zmb gives OUTDIR/A.webm, and OUTDIR/A/ for the outputs that are folders). Prints
// one line per movie as it ends and a total, on standard output. Returns 0 when every movie
// was whole, 3 when some were salvaged and none failed, 1 when any failed.
int DecodeMovies(const BatchRequest& request);

}  // namespace zmbtool
