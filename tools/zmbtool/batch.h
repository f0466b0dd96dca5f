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
    std::vector<std::string> movies;  // with -r, folders to look for movies in too
    std::vector<std::string> args;    // decode's arguments, the movies among them
    std::vector<std::string> owners;  // for each argument, the option it belongs to; "" for a movie
    unsigned jobs = 0;                // movies decoded at once; 0 for one per processor
    bool recursive = false;           // -r: each folder's movies, its tree mirrored in the outputs
    bool skipExisting = false;        // a movie whose outputs all exist is not decoded again
    std::string manifest;             // a file that gets one JSON line per movie
};

// The value of -j / --jobs: a whole number from 1 to the most zmbtool runs at once.
bool ParseJobs(const std::string& text, unsigned* jobs);

// What became of one movie, as a line of the manifest.
struct ManifestLine {
    std::string input;
    std::vector<std::string> outputs;
    const char* status = "failed";  // done, salvaged, failed, exists or stopped
    long frames = 0;
    double seconds = 0;
};

// Appends LINE to FILE as one JSON object on a line of its own, in one write, so that runs
// appending to one manifest at once (several jobs of a batch runner) never mix their lines.
// A manifest that cannot be written is said on standard error; the movie's own status stands.
void AppendManifest(const std::string& file, const ManifestLine& line);

// True when PATH holds a finished output: a file, or a folder output with a file in it
// (outputs are put in place whole, so what is there is complete).
bool OutputExists(const std::string& path, bool folder);

// Every output option must name an existing folder; each movie's outputs are named after it
// there (A.zmb gives OUTDIR/A.webm, and OUTDIR/A/ for the outputs that are folders; with -r,
// DIR/x/A.zmb gives OUTDIR/x/A.webm). Prints
// one line per movie as it ends and a total, on standard output. Returns 0 when every movie
// was whole, 3 when some were salvaged and none failed, 1 when any failed.
int DecodeMovies(const BatchRequest& request);

}  // namespace zmbtool
