// SPDX-License-Identifier: MIT
// Multimedia timers: periodic and one-shot callbacks on a thread of their own.
#pragma once

#include "platform/standin/audio/waveout.h"
#include "platform/standin/kernel/types.h"

#define TIMERR_NOERROR 0
#define TIMERR_NOCANDO 97

#define TIME_ONESHOT 0x0000
#define TIME_PERIODIC 0x0001
#define TIME_CALLBACK_FUNCTION 0x0000
#define TIME_CALLBACK_EVENT_SET 0x0010
#define TIME_CALLBACK_EVENT_PULSE 0x0020
#define TIME_KILL_SYNCHRONOUS 0x0100

typedef void(CALLBACK TIMECALLBACK)(UINT timerId, UINT message, DWORD_PTR user, DWORD_PTR dw1,
                                    DWORD_PTR dw2);
using LPTIMECALLBACK = TIMECALLBACK*;

// Every timer's callback runs on the one timer thread, never on the caller's. Under the
// test clock a timer fires only when the clock is moved, once per move that reaches its
// due time (missed periods are not made up), and the move returns after the callback has
// run. Only function callbacks are offered; the resolution is accepted and not needed.
// Returns the timer's id, or 0 when the delay is 0 or the callback is missing.
MMRESULT WINAPI timeSetEvent(UINT delay, UINT resolution, LPTIMECALLBACK callback, DWORD_PTR user,
                             UINT eventType);
// Once it returns, the timer's callback is not running and never runs again (unless called
// from the callback itself, which then finishes).
MMRESULT WINAPI timeKillEvent(UINT timerId);
