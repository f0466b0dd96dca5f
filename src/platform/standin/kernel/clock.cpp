// SPDX-License-Identifier: MIT
// The millisecond clock, real or driven by a test, and Sleep.
#include <sched.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

#include "platform/standin/kernel/clock.h"
#include "platform/standin/kernel/kernel.h"
#include "platform/standin/kernel/seams.h"

namespace {

// The multimedia timer's result codes.
constexpr UINT kTimerNoError = 0;
constexpr UINT kTimerCannotDo = 97;

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

// Like the real platform's, a sleeping thread wakes on the timer's tick rather than at the
// exact millisecond (there the tick is 15.6 ms unless a program asks for a finer one).
// Programs poll in loops around Sleep(1): woken every millisecond, such a loop costs a few
// per cent of a core in wake-ups alone on a virtual machine, more than the playback it waits
// for, while a wake-up every 10 ms still answers a key at once to the eye and shows a frame
// within a screen refresh of its time.
constexpr DWORD kDefaultTickMilliseconds = 10;

// A program that must wake at its moment asks for a finer tick with timeBeginPeriod, as it
// would on the real platform; the finest period asked for by anyone still holding one rules.
constexpr UINT kFinestPeriod = 1;
std::mutex periodLock;
std::map<UINT, int>& PeriodRequests() {
    static std::map<UINT, int> requests;
    return requests;
}

std::int64_t TickNanoseconds() {
    std::lock_guard<std::mutex> guard(periodLock);
    const auto& requests = PeriodRequests();
    DWORD tick = kDefaultTickMilliseconds;
    if (!requests.empty() && requests.begin()->first < tick) tick = requests.begin()->first;
    return std::int64_t{tick} * 1'000'000;
}

std::int64_t MonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// The first tick at least `milliseconds` from now. Ticks fall on whole multiples of the tick
// length of the monotonic clock, so timeGetTime read on waking has moved on by the full time.
std::int64_t TickAfter(DWORD milliseconds) {
    const std::int64_t tick = TickNanoseconds();
    const std::int64_t due = MonotonicNanoseconds() + std::int64_t{milliseconds} * 1'000'000;
    return (due + tick - 1) / tick * tick;
}

void SleepUntil(std::int64_t nanoseconds) {
    const timespec until{static_cast<time_t>(nanoseconds / 1'000'000'000),
                         static_cast<long>(nanoseconds % 1'000'000'000)};
    // An absolute wake-up survives signals: the sleep simply starts again.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
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
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    SleepUntil(TickAfter(milliseconds));
}

UINT WINAPI timeBeginPeriod(UINT period) {
    if (period < kFinestPeriod) return kTimerCannotDo;
    std::lock_guard<std::mutex> guard(periodLock);
    PeriodRequests()[period] += 1;
    return kTimerNoError;
}

UINT WINAPI timeEndPeriod(UINT period) {
    std::lock_guard<std::mutex> guard(periodLock);
    auto request = PeriodRequests().find(period);
    if (request == PeriodRequests().end()) return kTimerCannotDo;
    if (--request->second == 0) PeriodRequests().erase(request);
    return kTimerNoError;
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

void UseRealClock() {
    testClockActive.store(false);
}
bool TestClockActive() {
    return testClockActive.load();
}

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
