// SPDX-License-Identifier: MIT
// The platform's clock, sleep, wave-output driver and file reading, as the core borrows them.
#include "decoder/system/platform_services.h"

#include "decoder/host.h"
#include "platform/win32.h"
#include "sound/driver.h"

namespace {

std::uint32_t PlatformMilliseconds() {
    return timeGetTime();
}

void PlatformSleep(std::uint32_t milliseconds) {
    Sleep(milliseconds);
}

void InstallWaveOut() {
    SoundInstallWaveOut();
}

std::size_t ReadPlatformFile(void* file, void* buffer, std::size_t size) {
    DWORD got = 0;
    if (!ReadFile(file, buffer, static_cast<DWORD>(size), &got, nullptr)) return 0;
    return got;
}

// The interface reads on after moving a file's position whatever the move answered, as it
// always has: the frames lie within the 32-bit positions any file it opens accepts.
int SeekPlatformFile(void* file, std::uint64_t position) {
    LONG high = static_cast<LONG>(position >> 32);
    SetFilePointer(file, static_cast<LONG>(position & 0xFFFFFFFFu), &high, FILE_BEGIN);
    return 0;
}

constexpr HostServices kPlatformServices{PlatformMilliseconds, PlatformSleep, InstallWaveOut,
                                         ReadPlatformFile, SeekPlatformFile};

}  // namespace

void InstallPlatformServices() {
    InstallHostServices(&kPlatformServices);
}
