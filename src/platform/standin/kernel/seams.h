// SPDX-License-Identifier: MIT
// Controls of the stand-in that no Windows program has: they let tests and tools drive
// time, feed files from memory and read the debug output. Never used by the system itself.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "platform/standin/kernel/types.h"

namespace standin {

// Test-driven time: timeGetTime() answers the test clock, which moves only when a test
// sets or advances it (or when Sleep is called, which advances it by its argument).
void UseTestClock(DWORD now);
void SetTestClock(DWORD now);
void AdvanceTestClock(DWORD milliseconds);
void UseRealClock();
bool TestClockActive();

// Called after every change of the test clock, with the new time; for devices that
// consume sound in test-driven time. Returns an id for RemoveClockListener.
int AddClockListener(std::function<void(DWORD now)> listener);
void RemoveClockListener(int id);

// A read-only file handle over a copy of the given bytes, closed with CloseHandle.
HANDLE OpenMemoryFile(const void* data, std::size_t size);
// A read-only file handle over an already open POSIX descriptor, which it takes over.
HANDLE AdoptFileDescriptor(int fd);

// Redirects OutputDebugStringA; an empty function restores standard error.
void SetDebugSink(std::function<void(const char* text)> sink);

// The profile file GetProfileIntA reads, as resolved from the environment.
std::string ProfilePath();

}  // namespace standin
