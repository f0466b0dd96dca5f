// SPDX-License-Identifier: MIT
// Changed rectangles: runs of changed blocks from the change map, merged into a few
// aligned rectangles that the display copies to the screen.
#include <algorithm>
#include <cassert>
#include <cstring>

#include "decoder/host.h"
#include "decoder/video.h"

namespace {

constexpr std::uint32_t kGroupPixels = 64;  // 16 blocks of 4 pixels per map byte
constexpr std::int32_t kRunRows = 4;
constexpr std::int32_t kMaxPending = 4;

enum RectStates : std::int32_t { kNothing = 0, kNewFrame = 1, kScanning = 2, kScanEnded = 3 };

// Takes in groups from the one at the scan pointer (which is taken whatever its byte) up to
// the first unchanged group or the end of the block row.
void GrowRun(Destination* d, std::int32_t run[4]) {
    for (;;) {
        if (d->ScanX + kGroupPixels >= d->ScanWidth) {
            run[2] += static_cast<std::int32_t>(d->ScanWidth - d->ScanX);
            d->ScanY += kRunRows;
            ++d->ScanPointer;
            // The group goes on into the next block row: that part starts the next run.
            d->ScanX = d->ScanX + kGroupPixels - d->ScanWidth;
            d->ScanContinue = d->ScanX != 0;
            return;
        }
        run[2] += kGroupPixels;
        d->ScanX += kGroupPixels;
        ++d->ScanPointer;
        if (*d->ScanPointer == 0) return;
    }
}

// Moves the scan over one group; false when that left the picture.
bool StepGroup(Destination* d) {
    ++d->ScanPointer;
    d->ScanX += kGroupPixels;
    while (d->ScanX >= d->ScanWidth) {
        d->ScanX -= d->ScanWidth;
        d->ScanY += kRunRows;
        if (d->ScanY >= d->ScanRows) return false;
    }
    return true;
}

bool NormalRun(Destination* d, std::int32_t run[4]) {
    if (d->ScanY >= d->ScanRows) {
        d->ScanDone = 1;
        return false;
    }
    while (*d->ScanPointer == 0) {
        if (!StepGroup(d)) {
            d->ScanDone = 1;
            return false;
        }
    }
    run[0] = static_cast<std::int32_t>(d->ScanX);
    run[1] = static_cast<std::int32_t>(d->ScanY);
    run[2] = 0;
    run[3] = kRunRows;
    GrowRun(d, run);
    return true;
}

// The run starts with the part of a changed group that overhangs into this block row.
bool ContinuationRun(Destination* d, std::int32_t run[4]) {
    if (d->ScanY >= d->ScanRows) {
        d->ScanDone = 1;
        return false;
    }
    run[0] = 0;
    run[1] = static_cast<std::int32_t>(d->ScanY);
    run[2] = static_cast<std::int32_t>(d->ScanX);
    run[3] = kRunRows;
    if (d->ScanX >= d->ScanWidth) {  // a group spans whole rows of a narrow picture
        run[2] = static_cast<std::int32_t>(d->ScanWidth);
        d->ScanX -= d->ScanWidth;
        d->ScanY += kRunRows;
        return true;
    }
    d->ScanContinue = 0;
    if (d->ScanPointer[0] == 0 && d->ScanPointer[1] == 0) return true;
    GrowRun(d, run);
    return true;
}

std::int64_t Area(std::int64_t w, std::int64_t h) {
    return w * h;
}
std::int64_t Budget(const std::int32_t run[4]) {
    return Area(run[2], run[3]) * 5 / 4;
}

// Takes every further run into one bounding box.
void BoundAllRuns(Movie* movie, std::int32_t& x0, std::int32_t& right, std::int32_t& bottom) {
    std::int32_t* run = movie->ScanRect;
    while (NextChangedRun(movie->Dest, run)) {
        x0 = std::min(x0, run[0]);
        right = std::max(right, run[0] + run[2]);
        bottom = run[1] + run[3];
    }
    movie->RectState = kScanEnded;
}

// Takes further runs while the box wastes no more than a quarter of the changed area; a run
// that does not fit waits for the next rectangle.
void MergeEfficientRuns(Movie* movie, std::int32_t& x0, std::int32_t& y0, std::int32_t& right,
                        std::int32_t& bottom) {
    std::int32_t* run = movie->ScanRect;
    std::int64_t budget = Budget(run);
    for (;;) {
        if (!NextChangedRun(movie->Dest, run)) {
            movie->RectState = kScanEnded;
            return;
        }
        budget += Budget(run);
        const std::int32_t l = std::min(x0, run[0]), t = std::min(y0, run[1]);
        const std::int32_t r = std::max(right, run[0] + run[2]);
        const std::int32_t b = std::max(bottom, run[1] + run[3]);
        if (Area(r - l, b - t) > budget) return;
        x0 = l, y0 = t, right = r, bottom = b;
    }
}

// Widens the rectangle to 8-pixel destination columns where the picture allows it.
void AlignColumns(const Movie* movie, std::int32_t& x0, std::int32_t right, std::int32_t& X,
                  std::int32_t& w) {
    X = x0 + movie->DestX;
    const std::int32_t down = X & ~7;
    if ((X & 7) != 0 && down > movie->DestX) {
        x0 -= X - down;
        X = down;
    }
    w = right - x0;
    const std::int32_t up = (w + 7) & ~7;
    if ((w & 7) != 0 && up < static_cast<std::int32_t>(movie->Width) - x0) w = up;
}

bool SameColumns(const std::int32_t* a, const std::int32_t* b) {
    return a[0] == b[0] && a[2] == b[2];
}
bool SameRows(const std::int32_t* a, const std::int32_t* b) {
    return a[1] == b[1] && a[3] == b[3];
}

// Joins rectangle `a` onto `b` when they share a whole edge.
bool JoinOnto(const std::int32_t* a, std::int32_t* b) {
    if (SameColumns(a, b)) {
        if (a[1] == b[3]) return b[3] = a[3], true;
        if (a[3] == b[1]) return b[1] = a[1], true;
    } else if (SameRows(a, b)) {
        if (a[0] == b[2]) return b[2] = a[2], true;
        if (a[2] == b[0]) return b[0] = a[0], true;
    }
    return false;
}

void RemovePending(Movie* movie, std::uint32_t index) {
    const std::uint32_t count = movie->PendingRectCount / 4;
    for (std::uint32_t i = index; i + 1 < count; ++i) {
        std::memcpy(movie->PendingRects[i], movie->PendingRects[i + 1],
                    sizeof movie->PendingRects[i]);
    }
    movie->PendingRectCount -= 4;
}

void FillPending(Movie* movie, std::uint32_t mode) {
    while (movie->PendingRectCount < 4 * kMaxPending &&
           NextChangedRect(movie, mode, movie->PendingRects[movie->PendingRectCount / 4])) {
        const std::uint32_t index = movie->PendingRectCount / 4;
        movie->PendingRectCount += 4;
        MergeRect(movie, index);
    }
}

void HandOutFirst(Movie* movie) {
    const std::int32_t* r = movie->PendingRects[0];
    movie->RectX = r[0];
    movie->RectY = r[1];
    movie->RectW = r[2] - r[0];
    movie->RectH = r[3] - r[1];
    RemovePending(movie, 0);
}

// Decoding ends where copying to the screen begins.
void NoteBlitStart(Movie* movie) {
    const std::uint32_t now = HostMilliseconds();
    if (movie->BlitStartTime == 0) movie->BlitStartTime = now;
    if (movie->DecodeStartTime != 0) {
        movie->DecodeTime += now - movie->DecodeStartTime;
        movie->DecodeStartTime = 0;
    }
}

// Runs are in decoded pixels and rows: inside the picture as stored, before any doubling.
[[maybe_unused]] bool RunInsidePicture(const Movie* movie, const std::int32_t run[4]) {
    const bool scaled = (movie->OpenFlags & (ZAMB_INTERLACE | ZAMB_DOUBLE)) != 0;
    const std::int64_t rows = scaled ? movie->Height / 2 : movie->Height;
    return run[0] >= 0 && run[1] >= 0 && run[2] >= 0 && run[3] >= 0 &&
           std::int64_t{run[0]} + run[2] <= movie->Width && std::int64_t{run[1]} + run[3] <= rows;
}

}  // namespace

bool NextChangedRun(Destination* dest, std::int32_t run[4]) {
    if (dest->ScanDone) return false;
    if (!dest->ScanStarted) {
        dest->ScanStarted = 1;
        dest->ScanPointer = ChangeMapOf(dest);
        dest->ScanX = 0;
        dest->ScanY = 0;
    }
    return dest->ScanContinue ? ContinuationRun(dest, run) : NormalRun(dest, run);
}

bool NextChangedRect(Movie* movie, std::uint32_t mode, std::int32_t rect[4]) {
    if (movie->RectState == kScanEnded || movie->Dest == nullptr) {
        movie->RectState = kNothing;
        return false;
    }
    if (movie->RectState == kNothing) return false;
    if (movie->RectState == kNewFrame) {
        if (!NextChangedRun(movie->Dest, movie->ScanRect)) {
            movie->RectState = kNothing;
            // No block changed, but the display must still show the new palette once.
            if (!movie->PaletteChanged) return false;
            std::fill(rect, rect + 4, 0);
            return true;
        }
        movie->RectState = kScanning;
    }
    const std::int32_t* run = movie->ScanRect;
    std::int32_t x0 = run[0], y0 = run[1], right = run[0] + run[2], bottom = run[1] + run[3];
    assert(RunInsidePicture(movie, run));
    if (mode == 1) {
        BoundAllRuns(movie, x0, right, bottom);
    } else {
        MergeEfficientRuns(movie, x0, y0, right, bottom);
    }
    if (movie->OpenFlags & (ZAMB_INTERLACE | ZAMB_DOUBLE)) {
        y0 *= 2;
        bottom *= 2;
    }
    std::int32_t X, w;
    AlignColumns(movie, x0, right, X, w);
    rect[0] = X;
    rect[1] = movie->DestY + y0;
    rect[2] = X + w;
    rect[3] = movie->DestY + bottom;
    return true;
}

void MergeRect(Movie* movie, std::uint32_t index) {
    for (bool joined = true; joined;) {
        joined = false;
        const std::uint32_t count = movie->PendingRectCount / 4;
        for (std::uint32_t other = 0; other < count && !joined; ++other) {
            if (other == index || !JoinOnto(movie->PendingRects[index], movie->PendingRects[other]))
                continue;
            RemovePending(movie, index);
            index = other > index ? other - 1 : other;
            joined = true;
        }
    }
}

std::int32_t ZambNextRect(Movie* movie, std::uint32_t mode) {
    if (movie == nullptr) return 0;
    NoteBlitStart(movie);
    if (movie->RectState != kNothing) {
        if (mode == 2) return 0;
        FillPending(movie, mode);
    }
    if (movie->PendingRectCount == 0) return 0;
    HandOutFirst(movie);
    return 1;
}
