// SPDX-License-Identifier: MIT
// The two things the playing part above the core needs done while the core reads and seeks:
// the queued sound of open tracks must reach the device during long reads, and a movie that
// goes back to its first frame restarts its tracks. The core knows tracks only through these
// calls, which do nothing until the playing part installs them; it does so before it opens
// any track, so there is never a track they would have missed.
#pragma once

#include "core/movie_names.h"

struct TrackServices {
    void (*Service)();              // moves the queued sound of every open track on
    void (*Restart)(Movie* movie);  // the movie is back at frame 0
};

// Installs `services` for every later call, in any thread; the table must stay valid for
// the rest of the process.
void InstallTrackServices(const TrackServices* services);
void ServiceTracks();
void RestartTracks(Movie* movie);
