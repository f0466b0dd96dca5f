// SPDX-License-Identifier: MIT
// The millisecond clock, real or driven by a test, and Sleep.
#include <time.h>

#include <atomic>
#include <functional>
#include <map>
#include <mutex>

#include "platform/standin/kernel/clock.h"
#include "platform/standin/kernel/kernel.h"
#include "platform/standin/kernel/seams.h"

namespace {

std::atomic<bool> testClockActive{false};
std::atomic<DWORD> testClockNow{0};

std::mutex listenerLock;
std::map<int, std::function<void(DWORD)>>& Listeners() {
    static std::map<int, std::function<void(DWORD)>> listeners;
    return listeners;
}
int nextListenerId = 1;

// A copy is taken so that a listener may add or remove listeners while it runs.
void NotifyListeners(DWORD now) {
    std::map<int, std::function<void(DWORD)>> copy;
    {
        std::lock_guard<std::mutex> guard(listenerLock);
        copy = Listeners();
    }
    for (auto& [id, listener] : copy) listener(now);
}

DWORD RealMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    auto ms = static_cast<unsigned long long>(now.tv_sec) * 1000ull +
              static_cast<unsigned long long>(now.tv_nsec) / 1000000ull;
    return static_cast<DWORD>(ms);  // wraps at 2^32 like the platform clock
}

}  // namespace

DWORD WINAPI timeGetTime() {
    return testClockActive.load() ? testClockNow.load() : RealMilliseconds();
}

void WINAPI Sleep(DWORD milliseconds) {
    if (testClockActive.load()) {
        standin::AdvanceTestClock(milliseconds);
        return;
    }
    timespec wait{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0) {
    }
}

namespace standin {

void UseTestClock(DWORD now) {
    testClockNow.store(now);
    testClockActive.store(true);
}

void SetTestClock(DWORD now) {
    testClockNow.store(now);
    NotifyListeners(now);
}

void AdvanceTestClock(DWORD milliseconds) {
    DWORD now = testClockNow.fetch_add(milliseconds) + milliseconds;
    NotifyListeners(now);
}

void UseRealClock() { testClockActive.store(false); }
bool TestClockActive() { return testClockActive.load(); }

int AddClockListener(std::function<void(DWORD now)> listener) {
    std::lock_guard<std::mutex> guard(listenerLock);
    int id = nextListenerId++;
    Listeners().emplace(id, std::move(listener));
    return id;
}

void RemoveClockListener(int id) {
    std::lock_guard<std::mutex> guard(listenerLock);
    Listeners().erase(id);
}

}  // namespace standin
