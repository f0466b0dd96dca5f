// SPDX-License-Identifier: MIT
// The simulated audio device: plays the mix at the output rate, in real time on a thread
// of its own, or in test time whenever the test clock moves; can capture it to a WAV file.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/standin/audio/devices.h"
#include "platform/standin/audio/seams.h"
#include "platform/standin/kernel/clock.h"
#include "platform/standin/kernel/seams.h"

namespace standin::audio {
namespace {

struct SimulatedDevice {
    // Everything below but the thread controls is guarded by MixLock.
    OutputFormat Format;               // Rate 0 until the first stream gives it
    std::uint64_t FrameRemainder = 0;  // output frames owed, x 1000
    WavFile* Capture = nullptr;
    bool TestTimeSynced = false;
    DWORD LastTestTime = 0;

    std::thread Worker;
    std::mutex WorkerLock;
    std::condition_variable WorkerWake;
    bool StopWorker = false;
    std::uint64_t StreamsOpened = 0;  // counted under WorkerLock, to wake an idle worker
    int ClockListener = 0;
};

SimulatedDevice device;
std::atomic<bool> stalled{false};
std::string capturePath;
bool capturePathFromEnvironment = false;

std::string CapturePath() {
    if (!capturePathFromEnvironment) {
        capturePathFromEnvironment = true;
        if (const char* path = std::getenv("ZAMBREL_AUDIO_CAPTURE")) capturePath = path;
    }
    return capturePath;
}

// Plays `elapsed` milliseconds of the mix. Caller holds MixLock.
void ConsumeLocked(DWORD elapsed) {
    if (device.Format.Rate == 0 || !AnyStreamLocked() || stalled.load()) return;
    std::uint64_t owed = device.FrameRemainder + std::uint64_t{elapsed} * device.Format.Rate;
    std::uint64_t frames = owed / 1000;
    device.FrameRemainder = owed % 1000;
    const WORD frameBytes = device.Format.BlockAlign();
    std::vector<std::uint8_t> chunk;
    while (frames > 0) {
        std::size_t step = frames < 4096 ? static_cast<std::size_t>(frames) : 4096;
        frames -= step;
        if (!device.Capture) {
            RenderLocked(device.Format, step, nullptr);
            continue;
        }
        chunk.resize(step * frameBytes);
        RenderLocked(device.Format, step, chunk.data());
        WavAppend(device.Capture, chunk.data(), chunk.size());
    }
}

void OnTestClock(DWORD now) {
    std::lock_guard<std::mutex> guard(MixLock());
    DWORD elapsed = now - device.LastTestTime;
    bool resync = !device.TestTimeSynced || static_cast<std::int32_t>(elapsed) < 0;
    device.LastTestTime = now;
    device.TestTimeSynced = true;
    if (!resync) ConsumeLocked(elapsed);
}

// How often the device plays what has come due, like a sound card's period. Wave-output
// buffers hold a quarter of a second or more, so a period of this size still hands every one
// back long before the next runs dry, and waking 50 times a second rather than 200 keeps the
// device's own cost out of sight.
constexpr std::chrono::milliseconds kPeriod{20};

bool AnyStream() {
    std::lock_guard<std::mutex> guard(MixLock());
    return AnyStreamLocked();
}

// With no stream open a sound card plays nothing and wakes nobody, so the device sleeps
// until a stream opens: a paused player must cost nothing. The count is read before the
// streams are looked at, so a stream that opens meanwhile still wakes it.
void RunRealTime() {
    using Clock = std::chrono::steady_clock;
    auto last = Clock::now();
    std::unique_lock<std::mutex> wait(device.WorkerLock);
    while (!device.StopWorker) {
        const std::uint64_t opened = device.StreamsOpened;
        if (AnyStream()) {
            device.WorkerWake.wait_for(wait, kPeriod);
        } else {
            device.WorkerWake.wait(
                wait, [opened] { return device.StopWorker || device.StreamsOpened != opened; });
            last = Clock::now();  // the idle time was never played
            continue;
        }
        auto now = Clock::now();
        auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - last);
        if (elapsed.count() == 0) continue;
        last += elapsed;
        // Under the test clock the listener plays the sound; real time passes unheard.
        if (standin::TestClockActive()) continue;
        std::lock_guard<std::mutex> guard(MixLock());
        ConsumeLocked(static_cast<DWORD>(elapsed.count()));
    }
}

}  // namespace

bool OpenSimulated() {
    device.StopWorker = false;
    device.TestTimeSynced = false;
    device.Format = {};
    device.FrameRemainder = 0;
    device.ClockListener = standin::AddClockListener(OnTestClock);
    device.Worker = std::thread(RunRealTime);
    return true;
}

void CloseSimulated() {
    {
        std::lock_guard<std::mutex> guard(device.WorkerLock);
        device.StopWorker = true;
    }
    device.WorkerWake.notify_all();
    if (device.Worker.joinable()) device.Worker.join();
    standin::RemoveClockListener(device.ClockListener);
    std::lock_guard<std::mutex> guard(MixLock());
    WavFinish(device.Capture);
    device.Capture = nullptr;
}

void SimulatedStreamOpening(const WAVEFORMATEX& format) {
    std::string path = CapturePath();
    std::lock_guard<std::mutex> guard(MixLock());
    if (!AnyStreamLocked() && standin::TestClockActive()) {
        device.LastTestTime = timeGetTime();
        device.TestTimeSynced = true;
    }
    if (device.Format.Rate != 0) return;
    device.Format = {format.nSamplesPerSec, format.nChannels, format.wBitsPerSample};
    if (!path.empty()) device.Capture = WavCreate(path.c_str(), device.Format);
}

void SimulatedStreamOpened() {
    {
        std::lock_guard<std::mutex> guard(device.WorkerLock);
        device.StreamsOpened += 1;
    }
    device.WorkerWake.notify_all();
}

}  // namespace standin::audio

namespace standin {

void SetAudioCapture(const std::string& wavPath) {
    audio::CapturePath();
    audio::capturePath = wavPath;
}

void StallSimulatedAudio(bool stalled) {
    audio::stalled.store(stalled);
}

}  // namespace standin
