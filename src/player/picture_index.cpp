// SPDX-License-Identifier: MIT
// The player's seek index over the display's picture.
//
// A snapshot is only as good as the picture it copies, so the index follows the playing
// movie: a picture is a straight decode's while every frame since the open (or since the
// snapshot last put back) was decoded in order and painted. A late frame the decoder skips
// leaves the picture behind, a loop starts frame 0 over another picture, and a picture that
// moved (a new display mode) is not the one the snapshots were taken of: each of these ends
// the run of good pictures until a snapshot is put back.
#include "player/picture_index.h"

#include "core/debug.h"
#include "decoder/destination.h"
#include "decoder/movie.h"
#include "decoder/seek_index.h"
#include "platform/win32.h"
#include "player/settings.h"
#include "zambrel/decoder.h"

namespace {

constexpr std::uint32_t kNoRun = 0xFFFFFFFF;

struct PlayerIndex {
    SeekIndex index;
    IndexPicture picture{};       // where the snapshots were taken
    std::uint32_t nextInRun = 0;  // the frame whose decode keeps the picture good
    std::uint32_t skipped = 0;    // the movie's skipped frames while it is good
};
PlayerIndex Index;

// The profile's SeekMemory, in KiB: what a movie's snapshots may take (0: none are kept).
// The player holds a quarter of what a decoder handle holds unless told: it keeps the
// pictures whether or not anyone seeks, and a seek back costs a few frames' decoding still.
std::size_t SeekMemory() {
    constexpr INT kDefaultKiB = ZAMB_INDEX_DEFAULT_BUDGET / 4 >> 10;
    const auto kib =
        static_cast<std::int32_t>(GetProfileIntA("Zambrel", "SeekMemory", kDefaultKiB));
    return kib > 0 ? std::size_t(kib) << 10 : 0;
}

// The rows the decoder writes as they lie in the display's buffer: a doubled row is written
// twice, one under the other, and the rows an interlaced picture leaves alone are not its.
IndexPicture PictureOf(const Movie* movie) {
    const Destination* dest = movie->Dest;
    if (dest == nullptr || dest->Kind != kDestinationLinear || dest->FirstPixel == nullptr)
        return {};
    const std::uint32_t pixelBytes = dest->PixelFormat == kFormat8 ? 1 : 2;
    const std::uint32_t rows = dest->BlockRows * 4 * (dest->RowDoubling ? 2 : 1);
    return {dest->FirstPixel, dest->RowStep, dest->BlocksAcross * 4 * pixelBytes, rows};
}

bool SamePlace(const IndexPicture& a, const IndexPicture& b) {
    return a.first == b.first && a.step == b.step && a.rowBytes == b.rowBytes && a.rows == b.rows;
}

// The snapshots are of one picture in one place: one that moved starts the index over, and
// is no straight decode's. The first place a movie's picture takes is its own.
bool KeepsItsPlace(const IndexPicture& picture) {
    if (SamePlace(picture, Index.picture)) return true;
    const bool first = Index.picture.first == nullptr;
    IndexRelease(Index.index);
    Index.picture = picture;
    return first;
}

}  // namespace

void PictureIndexForget() {
    IndexRelease(Index.index);
    Index.index.budget = SeekMemory();
    // A picture the player clears before each frame shows the changes alone: never a
    // straight decode's.
    Index.index.wanted = !Settings.DiffOnly;
    Index.picture = {};
    Index.nextInRun = 0;
    Index.skipped = 0;
}

void PictureIndexNoteDecoded(Movie* movie) {
    const IndexPicture picture = PictureOf(movie);
    const bool good = picture.first != nullptr && KeepsItsPlace(picture) &&
                      movie->FrameNumber == Index.nextInRun &&
                      movie->FramesSkipped == Index.skipped;
    if (!good) {
        Index.nextInRun = kNoRun;
        return;
    }
    Index.nextInRun = movie->FrameNumber + 1;
    IndexTake(Index.index, movie->FrameNumber, movie->FrameCount, picture, movie->Palette);
}

bool PictureIndexResume(Movie* movie, std::uint32_t from, std::uint32_t target) {
    if (target == 0) return false;
    const std::uint32_t frame = IndexSnapshotBefore(Index.index, target - 1);
    const Snapshot* snapshot = IndexSnapshotAt(Index.index, frame);
    const IndexPicture picture = PictureOf(movie);
    if (snapshot == nullptr || frame < from || !KeepsItsPlace(picture)) return false;
    if (!IndexRestore(Index.index, *snapshot, picture, movie->Palette)) {
        IndexRelease(Index.index);  // overwritten memory: no snapshot is to be trusted
        return false;
    }
    DebugText("Seeking from the picture after frame ");
    DebugNumber(frame);
    DebugText("\r\n");
    movie->PaletteDirty16 = 1;
    movie->FrameNumber = frame + 1;
    SeekFrame(movie);
    PrepareFrame(movie);
    Index.nextInRun = frame + 1;
    Index.skipped = movie->FramesSkipped;
    return true;
}
