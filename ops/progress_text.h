// What the progress window says besides its bar: bytes done of the total,
// the speed and the time left, from the job's counters sampled over time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace korvane {

// "1.2 GB", "350 KB", "12 bytes": one decimal below 10 units, none above,
// truncated.
std::string format_size(std::uint64_t bytes);

// "1.2 MB of 35 MB"
std::string bytes_done_text(std::uint64_t done, std::uint64_t total);
// "8.1 MB/s"
std::string speed_text(double bytes_per_second);
// "About 5 seconds left", "About 3 minutes left", "About 2 hours 5 minutes left".
std::string time_left_text(std::uint64_t seconds);

// The speed over the last few seconds, from samples of a counter that only
// grows (a smaller one starts the count again).
class TransferRate {
  public:
    void add(std::uint64_t milliseconds, std::uint64_t bytes);
    // Bytes per second, once the samples span enough time to tell.
    std::optional<double> bytes_per_second() const;

  private:
    struct Sample {
        std::uint64_t milliseconds, bytes;
    };
    static constexpr std::size_t capacity = 16;          // 4 s of ticks at 250 ms
    static constexpr std::uint64_t least_span_ms = 750;  // less says too little
    Sample samples_[capacity] = {};
    std::size_t count_ = 0, next_ = 0;
};

}  // namespace korvane
