// SPDX-License-Identifier: MIT
// ZambOpen and ZambClose: the system's own interface opens the movie's file itself, by name
// or through the caller's handle, and has the core read it with the platform's services.
#include <atomic>
#include <cstdint>
#include <cstring>

#include "blit/sound_hook.h"
#include "core/debug.h"
#include "decoder/movie.h"
#include "decoder/source.h"
#include "decoder/system/debug_setting.h"
#include "decoder/system/platform_services.h"
#include "platform/win32.h"
#include "playing/audio.h"

namespace {

bool HasFlag(std::uint32_t flags, std::uint32_t flag) {
    return (flags & flag) != 0;
}

// The handle's position is where the movie starts: a movie may sit inside a larger file.
std::uint64_t CurrentPosition(HANDLE handle) {
    LONG high = 0;
    const DWORD low = SetFilePointer(handle, 0, &high, FILE_CURRENT);
    return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(high)) << 32) | low;
}

// The file's length, leaving the position where it was.
std::uint64_t HandleLength(HANDLE handle) {
    LONG high = 0;
    const DWORD here = SetFilePointer(handle, 0, &high, FILE_CURRENT);
    const LONG hereHigh = high;
    high = 0;
    const DWORD low = SetFilePointer(handle, 0, &high, FILE_END);
    LONG restoreHigh = hereHigh;
    SetFilePointer(handle, static_cast<LONG>(here), &restoreHigh, FILE_BEGIN);
    return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(high)) << 32) | low;
}

struct MovieFile {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::uint64_t start = 0;
    bool callers = false;  // the caller's handle, which it closes itself
};

// ZAMB_USER_RECORD only comes with ZAMB_FILE_HANDLE: a name has nowhere to travel in the
// caller's storage, so that combination opens nothing.
bool GetFile(const void* argument, std::uint32_t flags, MovieFile& file) {
    file.callers = HasFlag(flags, ZAMB_FILE_HANDLE);
    if (file.callers) {
        HANDLE handle = nullptr;
        if (HasFlag(flags, ZAMB_USER_RECORD)) {
            std::memcpy(&handle, argument, sizeof handle);
        } else {
            handle = const_cast<void*>(argument);
        }
        file.handle = handle;
        if (handle != INVALID_HANDLE_VALUE) {
            DebugText("ZambOpen - file handle: ");
            DebugNumber(static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(handle)));
            DebugText("\r\n");
            file.start = CurrentPosition(handle);
        }
    } else if (!HasFlag(flags, ZAMB_USER_RECORD)) {
        const char* name = static_cast<const char*>(argument);
        DebugText("ZambOpen - file: ");
        DebugText(name);
        DebugText("\r\n");
        file.handle = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    }
    if (file.handle == INVALID_HANDLE_VALUE || file.handle == nullptr) {
        DebugText("Couldn't open the Zambrel file\r\n");
        return false;
    }
    return true;
}

// A preloaded movie reads its file no more, so a file of our own is closed at once.
void CloseFileIfDone(const MovieFile& file, const Movie* movie) {
    if (file.callers) return;
    if (movie == nullptr || movie->FileHandle == kClosedFile) CloseHandle(file.handle);
}

Movie* OpenMovie(const void* nameOrHandle, std::uint32_t flags, std::uint32_t extraBuffer) {
    InstallPlatformServices();
    // Only this interface opens sound tracks, so only its movies need the blitter's long
    // table builds to keep their sound flowing.
    BlitInstallSoundService(&ZambServiceSound);
    DebugReadSetting();
    const std::uint32_t startTime = timeGetTime();
    MovieFile file;
    if (!GetFile(nameOrHandle, flags, file)) return nullptr;
    FileMovieRequest request{};
    request.file = file.handle;
    request.start = file.start;
    request.length = HandleLength(file.handle);
    request.recordStorage = const_cast<void*>(nameOrHandle);
    request.flags = flags;
    request.extraBuffer = extraBuffer;
    request.startTime = startTime;
    request.openTracks = &OpenMovieTracks;
    Movie* movie = OpenFileMovie(request);
    CloseFileIfDone(file, movie);
    return movie;
}

// This interface's state is process-wide and unlocked, so it belongs to one thread at a
// time: the thread that opened the movies still open. An open from any other thread is
// refused rather than left to race that thread over the shared sound state.
// A thread is told by the address of its own copy of a thread-local, which every platform's
// compiler gives us (a thread-id type is not available with every thread model).
thread_local char threadMark;
std::atomic<const char*> interfaceOwner{nullptr};
std::atomic<std::uint32_t> openMovies{0};

bool ClaimInterface() {
    const char* owner = nullptr;
    return interfaceOwner.compare_exchange_strong(owner, &threadMark) || owner == &threadMark;
}

// Once no movie is open, any thread may take the interface over.
void ReleaseInterfaceIfIdle() {
    if (openMovies.load() == 0) interfaceOwner.store(nullptr);
}

}  // namespace

Movie* ZambOpen(const void* nameOrHandle, std::uint32_t flags, std::uint32_t extraBuffer) {
    if (nameOrHandle == nullptr) return nullptr;
    if (!ClaimInterface()) {
        DebugText("ZambOpen refused: another thread has movies open\r\n");
        return nullptr;
    }
    Movie* movie = OpenMovie(nameOrHandle, flags, extraBuffer);
    if (movie != nullptr) openMovies.fetch_add(1);
    ReleaseInterfaceIfIdle();
    return movie;
}

void ZambClose(Movie* movie) {
    if (movie == nullptr) return;
    DebugText("ZambClose: ");
    DebugNumber(static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(movie)));
    DebugText("\r\n");
    // The sound side also frees the shared scratch buffer once the process's last track is
    // gone, which it decides for itself even when this movie had no track.
    CloseMovieTracks(movie);
    const bool callerHandle = (movie->OpenFlags & ZAMB_FILE_HANDLE) != 0;
    if (movie->FileHandle != kClosedFile && !callerHandle) CloseHandle(movie->FileHandle);
    ReleaseMovie(movie);
    openMovies.fetch_sub(1);
    ReleaseInterfaceIfIdle();
}
