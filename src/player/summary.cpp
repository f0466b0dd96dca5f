// SPDX-License-Identifier: MIT
// The playback summary's text, in the exact wording and number formats users compare.
#include "player/summary.h"

#include "display/window.h"
#include "platform/win32.h"
#include "player/messages.h"
#include "player/settings.h"

PlaybackSummary LastSummary = {};
std::uint32_t LastPeakSecondBytes = 0;
std::uint32_t LastPeakSecondFrame = 0;
std::string LastSoundOutput;

std::string DescribeSoundOutput() {
    WAVEOUTCAPSA caps{};
    if (waveOutGetDevCapsA(WAVE_MAPPER, &caps, sizeof caps) != MMSYSERR_NOERROR)
        return "no sound device";
    caps.szPname[sizeof caps.szPname - 1] = '\0';
    return std::string(Settings.UseDirectSound ? "DirectSound" : "wave output") + " to " +
           caps.szPname;
}

namespace {

// Counts are unsigned in the record but shown signed, the way the summary box shows them.
std::string Integer(std::uint32_t value) {
    return std::to_string(static_cast<std::int32_t>(value));
}

std::string Plural(std::uint32_t count, const char* unit) {
    return std::to_string(count) + " " + unit + (count == 1 ? "" : "s");
}

}  // namespace

std::string FormatRatio(std::uint32_t a, std::uint32_t b) {
    if (b == 0) b = 1;
    return std::to_string(a / b) + "." + std::to_string((a * 10u / b) % 10u);
}

std::string FormatDuration(std::uint32_t ms) {
    if (ms < 1000) return Plural(ms, "millisecond");
    if (ms < 60000) return Plural(ms / 1000, "second");
    if (ms < 3600000)
        return Plural(ms / 60000, "minute") + " " + Plural(ms % 60000 / 1000, "second");
    return Plural(ms / 3600000, "hour") + " " + Plural(ms % 3600000 / 60000, "minute");
}

namespace {

std::string RatesAndCounts(const PlaybackSummary& s) {
    std::string text = "  Frame rate: ";
    text += s.FramePeriod != 0 ? FormatRatio(100000, s.FramePeriod) : "As fast as possible.";
    text += "\r\n  Frame rate obtained: " + FormatRatio(s.FramesPlayed * 1000u, s.TotalTime);
    text += "\r\n  Total frames played: " + Integer(s.FramesPlayed);
    text += "\r\n  Skipped frames: " + Integer(s.FramesSkipped);
    text += "\r\n  Sound skips: " + Integer(s.SoundSkips);
    text += "\r\n  Total playback time: " + FormatDuration(s.TotalTime);
    text += "\r\n  Total open time: " + FormatDuration(s.OpenTime);
    return text;
}

std::string DataAndMemory(const SummaryFigures& f) {
    const PlaybackSummary& s = f.Summary;
    std::string text = "\r\n\r\n  Average frame size: " + Integer(s.AverageFrame);
    text += "\r\n  Highest one second data rate: " + Integer(f.PeakSecondBytes);
    text += "\r\n  Highest one second data rate start frame: " + Integer(f.PeakSecondFrame);
    // A fast disk reads more than 2^31 bytes a second; shown signed, that would be negative.
    text += "\r\n  Speed of playback device: " + std::to_string(s.DeviceSpeed);
    text += "\r\n  Memory used for playback: " + Integer(s.PeakMemory);
    text += "\r\n  Total extra buffering memory: " + Integer(s.ExtraMemory);
    text += "\r\n  Highest extra buffering memory used: " + Integer(s.ExtraMemoryUsed);
    return text;
}

std::string TimeShares(const PlaybackSummary& s) {
    std::string text =
        "\r\n\n  Percentage spent decompressing: " + FormatRatio(s.DecodeTime * 100u, s.TotalTime);
    text += "\r\n  Percentage spent blitting: " + FormatRatio(s.BlitTime * 100u, s.TotalTime);
    text += "\r\n  Percentage spent reading: " + FormatRatio(s.ReadTime * 100u, s.TotalTime);
    text += "\r\n  Percentage spent background reading: " +
            FormatRatio(s.AheadTime * 100u, s.TotalTime);
    return text;
}

// A one-frame movie has no second slowest frame to speak of.
std::string SlowestFrames(const PlaybackSummary& s) {
    std::string text = " (when idle)\r\n\n  Slowest frame: " + Integer(s.SlowestFrame);
    text += "  Frame rate: " + FormatRatio(1000, s.SlowestTime);
    if (s.FramesPlayed > 1) {
        text += "\r\n  Second slowest frame: " + Integer(s.SecondSlowestFrame);
        text += "  Frame rate: " + FormatRatio(1000, s.SecondSlowestTime);
    }
    return text;
}

}  // namespace

std::string PlaybackSummaryText(const SummaryFigures& f) {
    std::string text = RatesAndCounts(f.Summary) + DataAndMemory(f) + TimeShares(f.Summary) +
                       SlowestFrames(f.Summary);
    text += "\r\n\r\n  Screen colors: " + Integer(f.ScreenColors);
    text += "\r\n  Display blitter: ";
    text += f.DisplayDescription ? f.DisplayDescription : "";
    if (!f.SoundOutput.empty()) text += "\r\n  Sound output: " + f.SoundOutput;
    return text;
}

void ShowPlaybackSummary() {
    if (LastSummary.FramesPlayed == 0) return;
    SummaryFigures figures{LastSummary,           LastPeakSecondBytes,        LastPeakSecondFrame,
                           DisplayClosedColors(), DisplayClosedDescription(), LastSoundOutput};
    // ShowMessage keeps the text within its 2048-byte box buffer.
    ShowMessage("Zambrel Summary", PlaybackSummaryText(figures).c_str(), nullptr, nullptr, false);
}
