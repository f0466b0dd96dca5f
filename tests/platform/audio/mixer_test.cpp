// SPDX-License-Identifier: MIT
// Wave output over the mixer and the simulated device, in test-driven time.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/standin/audio/seams.h"
#include "platform/standin/kernel/seams.h"
#include "platform/standin/audio/waveout.h"

namespace {

WAVEFORMATEX Format(DWORD rate, WORD channels, WORD bits) {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = channels;
    format.nSamplesPerSec = rate;
    format.wBitsPerSample = bits;
    format.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    format.nAvgBytesPerSec = rate * format.nBlockAlign;
    return format;
}

struct Buffer {
    WAVEHDR header{};
    std::vector<std::uint8_t> data;
    explicit Buffer(std::vector<std::uint8_t> bytes) : data(std::move(bytes)) {
        header.lpData = reinterpret_cast<LPSTR>(data.data());
        header.dwBufferLength = static_cast<DWORD>(data.size());
    }
    bool Done() const {
        return (std::atomic_ref<DWORD>(const_cast<DWORD&>(header.dwFlags)).load() & WHDR_DONE) != 0;
    }
};

std::vector<std::uint8_t> Ramp(std::size_t count, unsigned seed) {
    std::vector<std::uint8_t> bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + seed);
    return bytes;
}

class MixerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        standin::UseTestClock(5000);
        standin::SelectAudioDevice(standin::AudioDeviceKind::Simulated);
        standin::RecordPlayedStreams(true);
        standin::TakePlayedStreams();
    }
    void TearDown() override {
        standin::RecordPlayedStreams(false);
        standin::StallSimulatedAudio(false);
        standin::SetAudioCapture("");
        standin::SelectAudioDevice(standin::AudioDeviceKind::Automatic);
        standin::UseRealClock();
    }
    HWAVEOUT Open(const WAVEFORMATEX& format) {
        HWAVEOUT device = nullptr;
        EXPECT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL),
                  MMSYSERR_NOERROR);
        return device;
    }
    void Queue(HWAVEOUT device, Buffer& buffer) {
        ASSERT_EQ(waveOutPrepareHeader(device, &buffer.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
        ASSERT_EQ(waveOutWrite(device, &buffer.header, sizeof(WAVEHDR)), MMSYSERR_NOERROR);
    }
    void Close(HWAVEOUT device, std::initializer_list<Buffer*> buffers) {
        waveOutReset(device);
        for (Buffer* buffer : buffers)
            waveOutUnprepareHeader(device, &buffer->header, sizeof(WAVEHDR));
        EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
    }
};

TEST_F(MixerTest, BufferIsDoneExactlyWhenItsLastByteHasPlayed) {
    HWAVEOUT device = Open(Format(22050, 1, 8));
    Buffer first(Ramp(441, 1));  // 20 ms
    Buffer second(Ramp(441, 2));
    Queue(device, first);
    Queue(device, second);
    standin::AdvanceTestClock(19);
    EXPECT_FALSE(first.Done());
    standin::AdvanceTestClock(1);
    EXPECT_TRUE(first.Done());
    EXPECT_FALSE(second.Done());
    standin::AdvanceTestClock(20);
    EXPECT_TRUE(second.Done());
    Close(device, {&first, &second});
    auto played = standin::TakePlayedStreams();
    ASSERT_EQ(played.size(), 1u);
    std::vector<std::uint8_t> expected = first.data;
    expected.insert(expected.end(), second.data.begin(), second.data.end());
    EXPECT_EQ(played[0].Bytes, expected);
}

TEST_F(MixerTest, ResetReturnsEveryBufferDoneAndCloseRefusesQueuedBuffers) {
    HWAVEOUT device = Open(Format(44100, 2, 16));
    Buffer a(Ramp(8192, 3)), b(Ramp(8192, 4));
    Queue(device, a);
    Queue(device, b);
    EXPECT_EQ(waveOutClose(device), static_cast<MMRESULT>(WAVERR_STILLPLAYING));
    EXPECT_EQ(waveOutUnprepareHeader(device, &a.header, sizeof(WAVEHDR)),
              static_cast<MMRESULT>(WAVERR_STILLPLAYING));
    EXPECT_EQ(waveOutReset(device), MMSYSERR_NOERROR);
    EXPECT_TRUE(a.Done());
    EXPECT_TRUE(b.Done());
    Close(device, {&a, &b});
}

TEST_F(MixerTest, StreamsOfDifferentFormatsEachPlayAtTheirOwnRate) {
    HWAVEOUT slow = Open(Format(22050, 1, 8));
    HWAVEOUT fast = Open(Format(44100, 2, 16));
    Buffer slowData(Ramp(22050, 5)), fastData(Ramp(176400, 6));  // one second each
    Queue(slow, slowData);
    Queue(fast, fastData);
    standin::AdvanceTestClock(100);
    Close(slow, {&slowData});
    Close(fast, {&fastData});
    auto played = standin::TakePlayedStreams();
    ASSERT_EQ(played.size(), 2u);
    EXPECT_EQ(played[0].Bytes.size(), 2205u);
    EXPECT_EQ(played[1].Bytes.size(), 17640u);
    EXPECT_TRUE(std::equal(played[1].Bytes.begin(), played[1].Bytes.end(), fastData.data.begin()));
}

TEST_F(MixerTest, RefusesWhatTheProgramMayNotAsk) {
    HWAVEOUT device = nullptr;
    WAVEFORMATEX format = Format(22050, 1, 8);
    EXPECT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_FUNCTION),
              static_cast<MMRESULT>(MMSYSERR_NOTSUPPORTED));
    WAVEFORMATEX odd = Format(22050, 3, 8);
    EXPECT_EQ(waveOutOpen(&device, WAVE_MAPPER, &odd, 0, 0, CALLBACK_NULL),
              static_cast<MMRESULT>(WAVERR_BADFORMAT));
    device = Open(format);
    Buffer unprepared(Ramp(16, 0));
    EXPECT_EQ(waveOutWrite(device, &unprepared.header, sizeof(WAVEHDR)),
              static_cast<MMRESULT>(WAVERR_UNPREPARED));
    EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
    EXPECT_EQ(waveOutClose(device), static_cast<MMRESULT>(MMSYSERR_INVALHANDLE));
}

TEST_F(MixerTest, WithoutADeviceOpenFails) {
    standin::SelectAudioDevice(standin::AudioDeviceKind::None);
    HWAVEOUT device = nullptr;
    WAVEFORMATEX format = Format(22050, 1, 8);
    EXPECT_EQ(waveOutOpen(&device, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL),
              static_cast<MMRESULT>(MMSYSERR_NODRIVER));
}

TEST_F(MixerTest, StalledDeviceNeverFinishesABuffer) {
    standin::StallSimulatedAudio(true);
    HWAVEOUT device = Open(Format(22050, 1, 8));
    Buffer buffer(Ramp(4, 0));
    Queue(device, buffer);
    standin::AdvanceTestClock(2000);
    EXPECT_FALSE(buffer.Done());
    Close(device, {&buffer});
}

TEST_F(MixerTest, CaptureHoldsALoneStreamBitForBit) {
    std::string path = ::testing::TempDir() + "zambrel_capture_test.wav";
    standin::SetAudioCapture(path);
    standin::SelectAudioDevice(standin::AudioDeviceKind::Simulated);
    HWAVEOUT device = Open(Format(11025, 1, 8));
    Buffer buffer(Ramp(1103, 9));
    Queue(device, buffer);
    standin::AdvanceTestClock(100);  // 1102.5 frames: all but the last byte
    standin::AdvanceTestClock(1);
    ASSERT_TRUE(buffer.Done());
    Close(device, {&buffer});
    standin::ShutdownAudio();
    std::ifstream file(path, std::ios::binary);
    std::vector<std::uint8_t> wav((std::istreambuf_iterator<char>(file)), {});
    ASSERT_GE(wav.size(), 44u + 1103u);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(wav[22], 1);                     // mono
    EXPECT_EQ(wav[24] | wav[25] << 8, 11025);  // the stream's own rate
    EXPECT_TRUE(std::equal(buffer.data.begin(), buffer.data.end(), wav.begin() + 44));
    std::remove(path.c_str());
}

TEST_F(MixerTest, DeviceVolumeIsSetThroughTheDeviceNumber) {
    HWAVEOUT device = Open(Format(22050, 1, 8));
    UINT id = 99;
    ASSERT_EQ(waveOutGetID(device, &id), MMSYSERR_NOERROR);
    EXPECT_EQ(id, 0u);
    HWAVEOUT deviceNumber = reinterpret_cast<HWAVEOUT>(static_cast<UINT_PTR>(id));
    EXPECT_EQ(waveOutSetVolume(deviceNumber, 0x40001234), MMSYSERR_NOERROR);
    DWORD volume = 0;
    EXPECT_EQ(waveOutGetVolume(deviceNumber, &volume), MMSYSERR_NOERROR);
    EXPECT_EQ(volume, 0x40001234u);
    waveOutSetVolume(deviceNumber, 0xFFFFFFFF);
    EXPECT_EQ(waveOutClose(device), MMSYSERR_NOERROR);
}

}  // namespace
