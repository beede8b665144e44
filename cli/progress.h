// The progress line on stderr: percent, bytes done of total, rate and time
// left, redrawn in place.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace korvane::cli {

// "  42%   12.3 MiB of 29.0 MiB   8.1 MiB/s   0:02 left". Rate and time
// left show "--" until something is done.
std::string progress_line(std::uint64_t done, std::uint64_t total, double seconds);

// "512 B", "1.5 KiB", "12.3 MiB", "2.0 GiB".
std::string byte_count(std::uint64_t bytes);

class ProgressBar {
  public:
    explicit ProgressBar(bool visible);
    ~ProgressBar();  // clears the line
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    // Redraws unless the last drawing was less than a tenth of a second ago.
    void update(std::uint64_t done, std::uint64_t total);
    // Leaves the line empty for whatever is printed next.
    void clear();

  private:
    using Clock = std::chrono::steady_clock;
    bool visible_;
    Clock::time_point start_, last_drawn_;
    bool drawn_ = false;
    std::size_t width_ = 0;  // of the line on screen, to blank it
};

}  // namespace korvane::cli
