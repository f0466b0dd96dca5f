// SPDX-License-Identifier: MIT
// A progress bar on standard error, for commands whose work takes a while.
#pragma once

#include <chrono>
#include <cstdint>

namespace zmbtool {

// Draws only when standard error is a terminal and the work has already taken long enough
// to be worth watching, so quick runs, pipes and log files see nothing.
class ProgressBar {
  public:
    ProgressBar(const char* label, std::uint64_t total);
    ~ProgressBar();
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;
    void Update(std::uint64_t done);
    // Clears the bar so that a following message starts on a clean line.
    void Finish();

  private:
    using Clock = std::chrono::steady_clock;
    void Draw(std::uint64_t done);

    const char* label_;
    std::uint64_t total_;
    bool enabled_;
    bool drawn_ = false;
    Clock::time_point start_;
    Clock::time_point lastDraw_;
};

}  // namespace zmbtool
