// SPDX-License-Identifier: MIT
// The playback loop: every movie of the command line opened, shown frame by frame at its
// pace with the keys and the focus followed, looped as asked and closed.
#include "player/playback.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "core/movie_names.h"
#include "decoder/frame_damage.h"
#include "playing/pacing.h"
#include "display/display.h"
#include "display/keys.h"
#include "display/modes.h"
#include "display/present.h"
#include "display/window.h"
#include "platform/win32.h"
#include "player/argument_names.h"
#include "player/damage_report.h"
#include "player/messages.h"
#include "player/picture_index.h"
#include "player/selfplay.h"
#include "player/seek.h"
#include "player/settings.h"
#include "player/summary.h"
#include "player/volume.h"
#include "sound/directsound.h"
#include "sound/played_out.h"
#include "sound/track.h"

namespace {

// The sound-only display: the progress bar's size.
constexpr std::uint32_t kProgressWidth = 160;
constexpr std::uint32_t kProgressHeight = 1;

// Pause and focus outlive a movie, so a paused player stays paused into the next one.
struct PlaybackState {
    Movie* CurrentMovie = nullptr;
    HANDLE OwnFile = INVALID_HANDLE_VALUE;
    std::uint8_t Paused = 0;  // 0 or 0xFF, handed to ZambSoundOnOff as "on" when resuming
    bool StepFrame = false;
    bool SoundActive = true;
    bool LastFrameReached = false;
    bool SilenceReported = false;
    bool SummaryTaken = false;    // the figures were taken before the sound played out
    TreeFaults Faults;            // the current movie's trees, looked at once at its open
    std::string ShownName;        // the current movie as the user typed it
    bool OpenedThisPass = false;  // a movie of the list opened since it was last refilled
    bool ShowWhole = false;       // a seek passed frames unseen: the next shows all of it
    SoundCheck SoundChecks;       // kept for the whole run: its buffers only grow
};
PlaybackState State;

enum class FrameEnd { Next, LeaveMovie };

// A stop empties both the names still to come and the text a list loop would refill them
// from, so nothing else plays.
void StopEverything(PlayList& list) {
    list.Remaining[0] = '\0';
    if (list.CommandLine) list.CommandLine[0] = '\0';
}

bool AsksForSound(const Movie* movie) {
    for (std::uint32_t track = 0; track < ZAMB_TRACK_COUNT; ++track) {
        const bool asked = (Settings.OpenFlags & (ZAMB_TRACK0 << track)) != 0;
        if (asked && (movie->TrackFormat[track] & ZAMB_TRACK_PRESENT)) return true;
    }
    return false;
}

// Silence where sound was expected is worth one line, and one only: the rest of the list
// would be silent for the same reason.
void SayWhatIsHeard() {
    const Movie* movie = State.CurrentMovie;
    if (movie->PrimaryTrack != -1 || !AsksForSound(movie)) return;
    if (State.SilenceReported) return;
    State.SilenceReported = true;
    if (DescribeSoundOutput() != "no sound device") return;
    ReportProblem(
        "no sound device could be opened, so the movie plays without sound; "
        "SDL_AUDIODRIVER chooses SDL's driver (pulseaudio, pipewire, alsa, disk), "
        "ZAMBREL_AUDIO=simulated plays into nothing");
}

std::string HowSoundWasHeard(const Movie* movie) {
    if (movie->PrimaryTrack != -1) return DescribeSoundOutput();
    return AsksForSound(movie) ? "none (no sound device)" : "none (no sound track played)";
}

Movie* OpenByName(const char* name) {
    return ZambOpen(name, Settings.OpenFlags | VolumeOpenFlags(),
                    static_cast<std::uint32_t>(Settings.ExtraBuffer));
}

// The handle stays ours: it is closed with the movie.
Movie* OpenByHandle(HANDLE file) {
    State.OwnFile = file;
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    return ZambOpen(file, Settings.OpenFlags | VolumeOpenFlags() | ZAMB_FILE_HANDLE,
                    static_cast<std::uint32_t>(Settings.ExtraBuffer));
}

// A name that exists as the user gave it is opened as given; the command line's rules (the
// added extension, an offset into the player's own file) are for names that do not.
Movie* OpenNamedMovie(PlayList& list, bool exact, std::string& why) {
    GivenName given = OpenGivenName(list.Current, exact);
    switch (given.How) {
        case GivenName::Kind::ByName:
            return OpenByName(list.Current);
        case GivenName::Kind::ByHandle:
            return OpenByHandle(given.Handle);
        case GivenName::Kind::Refused:
            why = given.Why;
            return nullptr;
        case GivenName::Kind::NotGiven:
            break;
    }
    if (NamesOwnFile(list.Current)) return OpenByHandle(OpenOwnFileAt(list.Current));
    if (!AddMovieExtension(list.Current, sizeof list.Current)) return nullptr;
    return OpenByName(list.Current);
}

// At a terminal the reason is the one line; in a box it follows the box's own words.
void ReportOpenFailure(const std::string& why) {
    const char* name = State.ShownName.c_str();
    if (CurrentMessageWay() == MessageWay::Terminal && !why.empty()) {
        ReportProblem("%s: %s", name, why.c_str());
        return;
    }
    if (!why.empty()) ReportProblem("%s: %s", name, why.c_str());
    const std::string after = why.empty() ? "." : ".\r\n" + why;
    ShowMessage(nullptr, "  Error opening file: ", name, after.c_str(), true);
}

bool OpenCurrentMovie(PlayList& list) {
    ZambSetReadSpeed(Settings.ReadSpeed);
    ZambSetFrameRate(Settings.FrameRate);
    State.OwnFile = INVALID_HANDLE_VALUE;
    const bool exact = ExpandArgumentName(list.Current, sizeof list.Current);
    State.ShownName = NameAsGiven(list.Current, exact);
    std::string why;
    State.CurrentMovie = OpenNamedMovie(list, exact, why);
    if (State.CurrentMovie) {
        State.Faults = FindTreeFaults(State.CurrentMovie);
        PictureIndexForget();
        State.OpenedThisPass = true;
        ApplyVolume(State.CurrentMovie);
        SayWhatIsHeard();
        return true;
    }
    if (State.OwnFile != INVALID_HANDLE_VALUE) CloseHandle(State.OwnFile);
    State.OwnFile = INVALID_HANDLE_VALUE;
    Outcome.PlaybackFailed = true;
    // An offset into the player's own file names no file of its own to tell about.
    if (why.empty() && (exact || !NamesOwnFile(list.Current)))
        why = WhyNotOpened(list.Current, exact);
    ReportOpenFailure(why);
    return false;
}

void ShowNameInCaption() {
    const std::string caption = MovieCaption(State.ShownName);
    if (HWND window = DisplayWindow()) SetWindowTextA(window, caption.c_str());
}

bool OpenDisplayForMovie(PlayList& list) {
    const Movie* movie = State.CurrentMovie;
    if (Settings.DisplayResolution != 0) DisplaySetResolution(Settings.DisplayResolution);
    const std::uint32_t width = Settings.SoundOnly ? kProgressWidth : movie->Width;
    const std::uint32_t height = Settings.SoundOnly ? kProgressHeight : movie->Height;
    if (!DisplayOpen(width, height, Settings.PosX, Settings.PosY, Settings.DisplayFlags)) {
        Outcome.PlaybackFailed = true;
        ShowMessage(nullptr, "  Error opening graphics buffer.", nullptr, nullptr, true);
        StopEverything(list);
        return false;
    }
    if (Settings.UseDirectSound) SoundSetWindow(DisplayWindow());
    ShowNameInCaption();
    if (!Settings.SoundOnly) DisplayBindMovie(State.CurrentMovie, 0, 0);
    // No movie palette ever reaches a sound-only display, and with a colour table of zeros
    // its progress bar would be black on black; the system's own colours show it.
    if (Settings.SoundOnly) DisplayUseSystemPalette();
    return true;
}

void ApplyPalette() {
    Movie* movie = State.CurrentMovie;
    if (!movie->PaletteChanged || Settings.SoundOnly) return;
    Display* display = DisplayCurrent();
    if (!display) return;
    if (Settings.RemapMode == 1)
        DisplayUseSystemPalette();
    else
        DisplaySetPalette(display, movie->Palette);
    // A screen that cannot take the whole palette shows the movie in the nearest colours
    // it has, rather than in whichever entries happen to be there.
    if (display->FreeCount < 256 && Settings.RemapMode != 2)
        ZambRemapColours(movie, display->ColorTable, display->PaletteEntries, display->PaletteType);
}

void ShowFrameInCaption() {
    char caption[64];
    std::snprintf(caption, sizeof caption, "%s - Frame: %u", kApplicationName,
                  static_cast<unsigned>(State.CurrentMovie->FrameNumber + 1));
    if (HWND window = DisplayWindow()) SetWindowTextA(window, caption);
}

// A movie that ends early because it is damaged fails the run, and says where and why.
void ReportStoppedAt(const PlayList&, const char* failed, const char* why) {
    const Movie* movie = State.CurrentMovie;
    Outcome.PlaybackFailed = true;
    ReportStop(State.ShownName.c_str(), "frame %u of %u could not be %s (%s); stopped there",
               static_cast<unsigned>(movie->FrameNumber + 1),
               static_cast<unsigned>(movie->FrameCount), failed, why);
}

// A picture that could not be decoded is made-up blocks: it is not shown, and the movie
// ends there as a cut one does, rather than play on as if it were whole.
bool ReportDamagedPicture(const PlayList& list, const PictureDamage& damage) {
    const std::string why = DescribePictureDamage(damage, State.Faults);
    if (why.empty()) return false;
    ReportStoppedAt(list, "decoded", why.c_str());
    return true;
}

// Sound the movie does not hold is made-up silence, so a damaged chunk ends the movie as
// damaged pictures do. The tracks asked for are checked whether a device plays them or not:
// the same file must not pass on one machine and fail on another.
bool ReportDamagedSound(const PlayList& list) {
    const std::uint32_t asked = (Settings.OpenFlags & ZAMB_TRACK_MASK) / ZAMB_TRACK0;
    const SoundDamage damage = FindSoundDamage(State.CurrentMovie, asked, State.SoundChecks);
    if (damage.track < 0) return false;
    ReportStoppedAt(list, "decoded", DescribeSoundDamage(damage).c_str());
    return true;
}

void PresentWholePicture() {
    State.ShowWhole = false;
    Display* display = DisplayCurrent();
    if (!display || Settings.SoundOnly) return;
    DisplayPresent(display, nullptr, 0, 0, 0, 0, static_cast<std::int32_t>(display->Width),
                   static_cast<std::int32_t>(display->Height));
}

// False when the frame was damaged, and reported.
bool DecodeAndPresent(const PlayList& list) {
    Movie* movie = State.CurrentMovie;
    ApplyPalette();
    if (Settings.DiffOnly) DisplayClearAndPresent(0);
    PictureDamage damage;
    DoFrameWatched(movie, State.Faults, &damage);
    if (ReportDamagedPicture(list, damage) || ReportDamagedSound(list)) return false;
    PictureIndexNoteDecoded(movie);
    if (Settings.SoundOnly)
        DisplayShowProgress(movie);
    else
        DisplayPresentChanges(movie);
    if (State.ShowWhole) PresentWholePicture();
    if (Settings.FrameInCaption) ShowFrameInCaption();
    return true;
}

// With several movies the list loop counts the plays; a lone movie counts them itself and
// wraps through its ring frame without being reopened.
void Advance(const PlayList& list, std::uint32_t lastIndex) {
    Movie* movie = State.CurrentMovie;
    if (movie->FrameNumber != lastIndex) {
        ZambNextFrame(movie);
        return;
    }
    if (!list.MultipleMovies && --Settings.LoopCount != 0) {
        ZambNextFrame(movie);
        return;
    }
    State.LastFrameReached = true;
    HoldLastFrame(movie);
}

bool KeyDisabled(std::int32_t bit) {
    return (Settings.DisableControls & bit) != 0;
}

// A paused movie shows where it went, as a step does. A step not shown yet counts as
// shown: the user has asked for it already.
void SeekBy(std::int64_t frames) {
    const bool pending = State.Paused && State.StepFrame;
    if (KeyDisabled(kDisableSkip) || !SeekFrames(State.CurrentMovie, frames, pending)) return;
    State.LastFrameReached = false;
    State.ShowWhole = true;
    if (State.Paused) State.StepFrame = true;
}

constexpr std::int64_t kSeekMilliseconds = 5000;

// The window fills the display and back; the full-screen modes of the switches have a
// window of their own, which stays as it is.
void ToggleFullScreen() {
    HWND window = DisplayWindow();
    const Display* display = DisplayCurrent();
    if (!window || (display && display->FullScreen)) return;
    ShowWindow(window, IsZoomed(window) ? SW_RESTORE : SW_MAXIMIZE);
}

// Keys a desktop player answers; none of them has a meaning of its own in the player
// already. A letter counts in either case.
void ActOnListenerKey(std::uint8_t key) {
    switch (key) {
        case kKeyMute:
        case kKeyMute - 'a' + 'A':
            return ToggleMute(State.CurrentMovie);
        case kKeyQuieter:
            return StepVolume(State.CurrentMovie, -1);
        case kKeyLouder:
            return StepVolume(State.CurrentMovie, 1);
        case kKeyLeft:
            return SeekBy(-FramesIn(State.CurrentMovie, kSeekMilliseconds));
        case kKeyRight:
            return SeekBy(FramesIn(State.CurrentMovie, kSeekMilliseconds));
        case kKeyShiftLeft:
            return SeekBy(-1);
        case kKeyShiftRight:
            return SeekBy(1);
        case kKeyFullScreen:
        case kKeyFullScreen - 'a' + 'A':
        case kKeyDoubleClick:
            return ToggleFullScreen();
        default:
            break;
    }
}

FrameEnd ActOnKey(std::uint8_t key, PlayList& list) {
    switch (key) {
        case kKeyEnter:
            if (State.Paused) State.StepFrame = true;
            break;
        case kKeyQuit:
        case kKeyQuit - 'a' + 'A':
        case kKeyEscape:
        case kKeyClose:
            if (KeyDisabled(kDisableQuit)) break;
            StopEverything(list);
            return FrameEnd::LeaveMovie;
        case kKeySpace:
            if (KeyDisabled(kDisablePause)) break;
            ZambSoundOnOff(State.CurrentMovie, State.Paused);
            State.Paused = static_cast<std::uint8_t>(~State.Paused);
            break;
        case kKeyStep:
            if (KeyDisabled(kDisableSkip)) break;
            return FrameEnd::LeaveMovie;
        default:
            ActOnListenerKey(key);
            break;
    }
    return FrameEnd::Next;
}

// Losing the focus holds the movie and its sound; a sound device that cannot be had back
// yet is asked again on the next pass.
void FollowFocus() {
    const bool focused = Settings.NoFocusPause || DisplayHasFocus(DisplayCurrent());
    if (!focused && State.SoundActive) {
        State.SoundActive = false;
        ZambSoundOnOff(State.CurrentMovie, 0);
    } else if (focused && !State.SoundActive) {
        if (ZambSoundOnOff(State.CurrentMovie, 1) != 0) State.SoundActive = true;
    }
}

// Paused, or out of focus: no frame may go, whatever is due.
bool Held() {
    return !State.SoundActive || (State.Paused && !State.StepFrame);
}

bool MustKeepWaiting() {
    // ZambWait comes first: it reads ahead and keeps the sound fed on every pass.
    return ZambWait(State.CurrentMovie) != 0 || Held();
}

// How long an idle pass may sleep: until the next frame is due, but never so long that a
// key, the focus or the sound device waits more than this.
constexpr std::uint32_t kInputPollMilliseconds = 10;
constexpr UINT kTimerPeriodMilliseconds = 1;

std::uint32_t IdleMilliseconds() {
    // A held movie's due time says nothing (a movie played as fast as it goes is always
    // due): only a key or the focus can end the hold, and a sleep of 0 would spin a core.
    if (Held()) return kInputPollMilliseconds;
    const std::uint32_t due = MillisecondsToNextFrame(State.CurrentMovie);
    return due < kInputPollMilliseconds ? due : kInputPollMilliseconds;
}

// The passes run back to back while the wait reads ahead, so the read-ahead ring gets all
// the idle time there is; only once it has nothing to read does the loop sleep, and then
// only until the frame is due or the next look at the keys.
FrameEnd WaitForNextFrame(PlayList& list) {
    State.StepFrame = false;
    for (;;) {
        if (DisplayKeyAvailable() && ActOnKey(DisplayTakeKey(), list) == FrameEnd::LeaveMovie)
            return FrameEnd::LeaveMovie;
        FollowFocus();
        const std::uint32_t readAhead = State.CurrentMovie->AheadBytes;
        if (!MustKeepWaiting()) return FrameEnd::Next;
        if (State.CurrentMovie->AheadBytes == readAhead) Sleep(IdleMilliseconds());
    }
}

// What the tracks and the device may still hold when the last frame is shown, in
// milliseconds, and a margin for the device's own period: the play-out never waits longer,
// so a device that stops playing cannot hold the player.
constexpr DWORD kPlayOutMarginMilliseconds = 500;

DWORD PlayOutLimit(const Movie* movie) {
    std::uint64_t longest = 0;
    for (SoundTrack* track : movie->Tracks) {
        if (!track || track->BytesPerSecond == 0) continue;
        const std::uint64_t bytes = RingFillLoad(track) + 2ull * track->BufferSize;
        longest = std::max(longest, bytes * 1000 / track->BytesPerSecond);
    }
    return static_cast<DWORD>(std::min<std::uint64_t>(longest, 60'000)) +
           kPlayOutMarginMilliseconds;
}

bool SoundPlayedOut(Movie* movie) {
    for (SoundTrack* track : movie->Tracks)
        if (track && !SoundTrackPlayedOut(track)) return false;
    return true;
}

// The sound leads the pictures, so when the last frame has had its time the tracks still
// hold the end of the sound; closing the movie now would cut it. Keys are still answered:
// a stop or a skip ends the play-out at once, and pausing or losing the focus drops what
// was left, as it does during the movie.
FrameEnd PlayOutSound(PlayList& list) {
    Movie* movie = State.CurrentMovie;
    if (movie->PrimaryTrack == -1) return FrameEnd::Next;
    const DWORD start = timeGetTime();
    const DWORD limit = PlayOutLimit(movie);
    while (!movie->SoundOff && !SoundPlayedOut(movie) && timeGetTime() - start < limit) {
        if (DisplayKeyAvailable() && ActOnKey(DisplayTakeKey(), list) == FrameEnd::LeaveMovie)
            return FrameEnd::LeaveMovie;
        FollowFocus();
        ZambServiceSound();
        Sleep(kInputPollMilliseconds);
    }
    return FrameEnd::Next;
}

// A movie cut short or damaged cannot go on past the frame that failed to read: the
// decoder would only count frames from there, and a looping movie would count for ever.
bool ReportReadFailure(const PlayList& list) {
    if (!State.CurrentMovie->ReadFailed) return false;
    ReportStoppedAt(list, "read", "the file is cut short or damaged");
    return true;
}

void PlayFrames(PlayList& list) {
    State.LastFrameReached = false;
    const std::uint32_t lastIndex = State.CurrentMovie->FrameCount - 1;
    for (;;) {
        if (ReportReadFailure(list)) return;
        if (!DecodeAndPresent(list)) return;
        Advance(list, lastIndex);
        if (ReportReadFailure(list)) return;
        if (WaitForNextFrame(list) == FrameEnd::LeaveMovie) return;
        if (State.LastFrameReached) {
            // The figures tell of the frames: the time the end of the sound takes is not
            // playback time.
            ZambSummary(State.CurrentMovie, &LastSummary);
            State.SummaryTaken = true;
            PlayOutSound(list);
            return;
        }
    }
}

void CloseCurrentMovie() {
    Movie* movie = State.CurrentMovie;
    LastSoundOutput = HowSoundWasHeard(movie);
    if (!State.SummaryTaken) ZambSummary(movie, &LastSummary);
    State.SummaryTaken = false;
    LastPeakSecondBytes = movie->PeakSecondBytes;
    LastPeakSecondFrame = movie->PeakSecondFrame;
    ZambClose(movie);
    PictureIndexForget();
    State.CurrentMovie = nullptr;
    if (State.OwnFile != INVALID_HANDLE_VALUE) CloseHandle(State.OwnFile);
    State.OwnFile = INVALID_HANDLE_VALUE;
}

void MoveToNextName(PlayList& list) {
    if (list.MultipleMovies && list.Remaining[0] == '\0') {
        if (--Settings.LoopCount != 0) RefillPlayList(list);
        State.OpenedThisPass = false;
    }
    TakeNextName(list);
}

// A script's list goes on past a name that would not open, as a terminal user expects; a
// box asks the desktop user to look, and the list ends there. A looping list of nothing
// but such names ends too, rather than report them for ever.
bool GoOnAfterFailedOpen(PlayList& list) {
    if (CurrentMessageWay() != MessageWay::Terminal) return false;
    if (list.Remaining[0] == '\0' && !State.OpenedThisPass) return false;
    MoveToNextName(list);
    return true;
}

void FinishPlayback() {
    DisplayClose();
    if (Settings.DisplayResolution != 0) DisplaySetResolution(0);
    if (Settings.ShowSummary) ShowPlaybackSummary();
}

}  // namespace

void PlayMovies(char* commandLine) {
    State = PlaybackState{};
    DisplaySetTitle(kApplicationName);
    PlayList list;
    if (!StartPlayList(commandLine, list)) return;
    LastSummary.FramesPlayed = 0;
    // Sleeping on the default tick, a frame would be seen up to a tick after its time.
    timeBeginPeriod(kTimerPeriodMilliseconds);
    while (list.Current[0] != '\0') {
        if (!OpenCurrentMovie(list)) {
            if (GoOnAfterFailedOpen(list)) continue;
            list.Current[0] = '\0';
            break;
        }
        if (OpenDisplayForMovie(list)) PlayFrames(list);
        CloseCurrentMovie();
        MoveToNextName(list);
    }
    timeEndPeriod(kTimerPeriodMilliseconds);
    FinishPlayback();
}
