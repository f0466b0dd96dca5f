// SPDX-License-Identifier: MIT
// Moving a playing movie by some frames, forward or back, for the seek keys.
//
// The movie's pictures are differences from the one before, so a frame is only ever reached
// by decoding the frames before it: forward from where the movie is, or from the latest
// snapshot of the picture before it (the first frame when there is none). The sound does as
// it does for a pause: held while the frames are decoded, and started again at the new
// place, where the pacing picks it up.
#include "player/seek.h"

#include "core/movie_names.h"
#include "decoder/movie.h"
#include "player/picture_index.h"

namespace {

// A movie played as fast as it goes has no pace of its own to measure a time by.
constexpr std::int64_t kFastFramesPerSecond = 15;

std::int64_t Clamp(std::int64_t value, std::int64_t low, std::int64_t high) {
    return value < low ? low : (value > high ? high : value);
}

// Back to the first frame, as a movie without a ring frame loops: the input at its start,
// the palette black, the tracks restarted.
void Rewind(Movie* movie) {
    movie->FrameNumber = 0;
    SeekFrame(movie);
    PrepareFrame(movie);
}

}  // namespace

std::int64_t FramesIn(const Movie* movie, std::int64_t milliseconds) {
    const std::int64_t frames = movie->FramePeriod ? milliseconds * 100 / movie->FramePeriod
                                                   : milliseconds * kFastFramesPerSecond / 1000;
    return frames > 0 ? frames : 1;
}

bool SeekFrames(Movie* movie, std::int64_t frames, bool nextAsked) {
    if (!movie || movie->ReadFailed || movie->FrameCount == 0) return false;
    // The ring frame stands for the first: counted from there, the movie is at frame 0.
    const std::int64_t next = movie->FrameNumber >= movie->FrameCount ? 0 : movie->FrameNumber;
    const std::int64_t shown = next == 0 ? movie->FrameCount - 1 : next - 1;
    const std::int64_t target =
        Clamp((nextAsked ? next : shown) + frames, 0, movie->FrameCount - 1);
    // A frame asked for is shown whatever it is: the one on screen then becomes a target
    // like any other.
    if (target == shown && !nextAsked) return false;
    if (target == next) return true;
    const bool sounding = movie->SoundOff == 0;
    if (sounding) ZambSoundOnOff(movie, 0);
    const bool fromStart = target < next || movie->FrameNumber >= movie->FrameCount;
    const std::uint32_t from = fromStart ? 0 : static_cast<std::uint32_t>(next);
    if (!PictureIndexResume(movie, from, static_cast<std::uint32_t>(target)) && fromStart)
        Rewind(movie);
    while (movie->FrameNumber < target && !movie->ReadFailed) {
        ZambDoFrame(movie);
        PictureIndexNoteDecoded(movie);
        ZambNextFrame(movie);
    }
    // The frames passed over may have changed the palette that the next one builds on.
    movie->PaletteChanged = 1;
    if (sounding) ZambSoundOnOff(movie, 1);
    return true;
}
