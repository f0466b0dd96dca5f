// SPDX-License-Identifier: MIT
// Multimedia timers: one thread runs every callback, woken by the real clock or, under the
// test clock, by each move of that clock, which waits until the callbacks it made due have run.
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "platform/standin/audio/mmtimer.h"
#include "platform/standin/kernel/clock.h"
#include "platform/standin/kernel/seams.h"

namespace {

struct Timer {
    UINT Period = 0;
    bool Periodic = false;
    LPTIMECALLBACK Callback = nullptr;
    DWORD_PTR User = 0;
    DWORD Due = 0;
    bool DueInTestTime = false;  // which clock Due was taken from
};

struct TimerService {
    std::mutex Lock;
    std::condition_variable Wake;      // the thread: work or a change of timers
    std::condition_variable Finished;  // clock moves and kills: a callback has returned
    std::map<UINT, Timer> Timers;
    std::deque<UINT> Firing;  // made due by the test clock, not yet run
    std::uint64_t Requested = 0;
    std::uint64_t Completed = 0;
    UINT Running = 0;
    UINT NextId = 1;
    std::thread Worker;
    std::thread::id WorkerId;
    bool Stop = false;
    int ClockListener = 0;
    bool ExitHookSet = false;
};

TimerService& Service() {
    static TimerService* service = new TimerService;  // outlives every static user
    return *service;
}

bool Reached(DWORD now, DWORD due) {
    return static_cast<std::int32_t>(now - due) >= 0;
}

// Runs one callback without the lock, so that it may set or kill timers itself.
void RunCallback(TimerService& s, std::unique_lock<std::mutex>& held, UINT id) {
    auto found = s.Timers.find(id);
    if (found == s.Timers.end()) return;
    Timer timer = found->second;
    if (!timer.Periodic) s.Timers.erase(found);
    s.Running = id;
    held.unlock();
    timer.Callback(id, 0, timer.User, 0, 0);
    held.lock();
    s.Running = 0;
    s.Finished.notify_all();
}

void Reschedule(Timer& timer, DWORD now) {
    timer.Due += timer.Period;
    if (Reached(now, timer.Due)) timer.Due = now + timer.Period;  // late: no catching up
}

// Real time: fires what is due and returns how long to sleep.
DWORD FireDueInRealTime(TimerService& s, std::unique_lock<std::mutex>& held) {
    DWORD now = timeGetTime();
    for (auto& [id, timer] : s.Timers) {
        if (timer.DueInTestTime) {
            timer.Due = now + timer.Period;
            timer.DueInTestTime = false;
        }
    }
    for (auto it = s.Timers.begin(); it != s.Timers.end();) {
        UINT id = it->first;
        if (!Reached(now, it->second.Due)) {
            ++it;
            continue;
        }
        if (it->second.Periodic) Reschedule(it->second, now);
        RunCallback(s, held, id);
        it = s.Timers.upper_bound(id);
        now = timeGetTime();
    }
    DWORD wait = 50;
    for (auto& [id, timer] : s.Timers) {
        DWORD left = Reached(now, timer.Due) ? 0 : timer.Due - now;
        if (left < wait) wait = left;
    }
    return wait;
}

void RunTimers() {
    TimerService& s = Service();
    std::unique_lock<std::mutex> held(s.Lock);
    while (!s.Stop) {
        if (!s.Firing.empty()) {
            UINT id = s.Firing.front();
            s.Firing.pop_front();
            RunCallback(s, held, id);
            if (s.Firing.empty()) {
                s.Completed = s.Requested;
                s.Finished.notify_all();
            }
            continue;
        }
        // Under the test clock only its moves fire timers; the wait re-checks the clock kind.
        DWORD wait = standin::TestClockActive() ? 50 : FireDueInRealTime(s, held);
        if (s.Stop || !s.Firing.empty()) continue;
        s.Wake.wait_for(held, std::chrono::milliseconds(wait));
    }
    s.Completed = s.Requested;
    s.Finished.notify_all();
}

void OnTestClock(DWORD now) {
    TimerService& s = Service();
    std::unique_lock<std::mutex> held(s.Lock);
    if (!s.Worker.joinable()) return;
    bool any = false;
    for (auto& [id, timer] : s.Timers) {
        if (!timer.DueInTestTime) {
            timer.Due = now + timer.Period;
            timer.DueInTestTime = true;
            continue;
        }
        if (!Reached(now, timer.Due)) continue;
        s.Firing.push_back(id);
        if (timer.Periodic) Reschedule(timer, now);
        any = true;
    }
    if (!any) return;
    std::uint64_t ticket = ++s.Requested;
    s.Wake.notify_all();
    // A callback that moves the clock cannot wait for itself.
    if (std::this_thread::get_id() == s.WorkerId) return;
    s.Finished.wait(held, [&] { return s.Completed >= ticket || s.Stop; });
}

void StopWorker(TimerService& s, std::unique_lock<std::mutex>& held) {
    if (!s.Worker.joinable() || std::this_thread::get_id() == s.WorkerId) return;
    s.Stop = true;
    s.Wake.notify_all();
    std::thread worker = std::move(s.Worker);
    held.unlock();
    worker.join();
    standin::RemoveClockListener(s.ClockListener);
    held.lock();
    s.Stop = false;
}

void StopAtExit() {
    TimerService& s = Service();
    std::unique_lock<std::mutex> held(s.Lock);
    s.Timers.clear();
    s.Firing.clear();
    StopWorker(s, held);
}

void StartWorker(TimerService& s) {
    if (s.Worker.joinable()) return;
    s.Stop = false;
    s.Requested = s.Completed = 0;
    s.Worker = std::thread(RunTimers);
    s.WorkerId = s.Worker.get_id();
    s.ClockListener = standin::AddClockListener(OnTestClock);
    if (!s.ExitHookSet) {
        s.ExitHookSet = true;
        std::atexit(StopAtExit);  // the thread must end before the program's statics go
    }
}

}  // namespace

MMRESULT WINAPI timeSetEvent(UINT delay, UINT, LPTIMECALLBACK callback, DWORD_PTR user,
                             UINT eventType) {
    if (delay == 0 || !callback) return 0;
    if (eventType & (TIME_CALLBACK_EVENT_SET | TIME_CALLBACK_EVENT_PULSE)) return 0;
    TimerService& s = Service();
    std::lock_guard<std::mutex> guard(s.Lock);
    StartWorker(s);
    UINT id = s.NextId++;
    if (s.NextId == 0) s.NextId = 1;
    Timer& timer = s.Timers[id];
    timer.Period = delay;
    timer.Periodic = (eventType & TIME_PERIODIC) != 0;
    timer.Callback = callback;
    timer.User = user;
    timer.Due = timeGetTime() + delay;
    timer.DueInTestTime = standin::TestClockActive();
    s.Wake.notify_all();
    return id;
}

MMRESULT WINAPI timeKillEvent(UINT timerId) {
    TimerService& s = Service();
    std::unique_lock<std::mutex> held(s.Lock);
    if (s.Timers.erase(timerId) == 0 && s.Running != timerId) return MMSYSERR_INVALPARAM;
    if (std::this_thread::get_id() != s.WorkerId)
        s.Finished.wait(held, [&] { return s.Running != timerId; });
    if (s.Timers.empty() && s.Running == 0) StopWorker(s, held);
    return TIMERR_NOERROR;
}
