// SPDX-License-Identifier: MIT
// zmbtool's progress bar.
#include "progress.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace zmbtool {

namespace {

// Work done within this time needs no bar; redrawing more often than the second would only
// cost time on slow terminals.
constexpr auto kQuietStart = std::chrono::milliseconds(500);
constexpr auto kRedrawEvery = std::chrono::milliseconds(100);
constexpr int kBarWidth = 40;

}  // namespace

ProgressBar::ProgressBar(const char* label, std::uint64_t total)
    : label_(label),
      total_(total),
      enabled_(total > 1 && ::isatty(STDERR_FILENO) == 1),
      start_(Clock::now()),
      lastDraw_(start_) {}

ProgressBar::~ProgressBar() {
    Finish();
}

void ProgressBar::Update(std::uint64_t done) {
    if (!enabled_) return;
    const Clock::time_point now = Clock::now();
    if (now - start_ < kQuietStart || (drawn_ && now - lastDraw_ < kRedrawEvery)) return;
    lastDraw_ = now;
    Draw(done);
}

void ProgressBar::Draw(std::uint64_t done) {
    if (done > total_) done = total_;
    const int filled = static_cast<int>(done * kBarWidth / total_);
    char bar[kBarWidth + 1];
    for (int i = 0; i < kBarWidth; ++i) bar[i] = i < filled ? '#' : '.';
    bar[kBarWidth] = 0;
    std::fprintf(stderr, "\r%s [%s] %llu/%llu", label_, bar, static_cast<unsigned long long>(done),
                 static_cast<unsigned long long>(total_));
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressBar::Finish() {
    if (!drawn_) return;
    // Blank the whole line: the label, the bar and two counts of up to 20 digits each.
    const int width = static_cast<int>(std::strlen(label_)) + kBarWidth + 4 + 41;
    std::fprintf(stderr, "\r%*s\r", width, "");
    std::fflush(stderr);
    drawn_ = false;
    enabled_ = false;
}

}  // namespace zmbtool
