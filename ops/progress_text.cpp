#include "ops/progress_text.h"

#include <cmath>
#include <cstdio>
#include <iterator>

namespace korvane {

std::string format_size(std::uint64_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    static constexpr const char* units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(units)) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    // Truncated, not rounded: 1023.96 KB is not "1024 KB".
    if (value < 10.0)
        std::snprintf(text, sizeof text, "%d.%d %s", static_cast<int>(value),
                      static_cast<int>(value * 10.0) % 10, units[unit]);
    else
        std::snprintf(text, sizeof text, "%d %s", static_cast<int>(value), units[unit]);
    return text;
}

std::string bytes_done_text(std::uint64_t done, std::uint64_t total) {
    return format_size(done < total ? done : total) + " of " + format_size(total);
}

std::string speed_text(double bytes_per_second) {
    const double whole = bytes_per_second > 0.0 ? std::floor(bytes_per_second) : 0.0;
    // Beyond 2^64 bytes a second nothing is measured honestly anyway.
    const auto bytes =
        whole >= 18446744073709551615.0 ? ~std::uint64_t{0} : static_cast<std::uint64_t>(whole);
    return format_size(bytes) + "/s";
}

std::string time_left_text(std::uint64_t seconds) {
    // Appended piece by piece: GCC 12's optimiser warns falsely of an
    // overlap in "literal" + std::string.
    std::string text = "About ";
    const auto count = [&text](std::uint64_t n, const char* one, const char* many) {
        text += std::to_string(n);
        text += ' ';
        text += n == 1 ? one : many;
    };
    // Minutes and hours round up: "About 1 minute" for 61 s would promise too much.
    const std::uint64_t minutes = (seconds + 59) / 60;
    if (seconds < 60) {
        count(seconds ? seconds : 1, "second", "seconds");
    } else if (minutes < 60) {
        count(minutes, "minute", "minutes");
    } else {
        count(minutes / 60, "hour", "hours");
        if (minutes % 60) {
            text += ' ';
            count(minutes % 60, "minute", "minutes");
        }
    }
    return text + " left";
}

void TransferRate::add(std::uint64_t milliseconds, std::uint64_t bytes) {
    if (count_ != 0) {
        const Sample& last = samples_[(next_ + capacity - 1) % capacity];
        if (bytes < last.bytes || milliseconds < last.milliseconds) count_ = 0;
    }
    samples_[next_] = {milliseconds, bytes};
    next_ = (next_ + 1) % capacity;
    if (count_ < capacity) ++count_;
}

std::optional<double> TransferRate::bytes_per_second() const {
    if (count_ < 2) return std::nullopt;
    const Sample& newest = samples_[(next_ + capacity - 1) % capacity];
    const Sample& oldest = samples_[(next_ + capacity - count_) % capacity];
    const std::uint64_t span = newest.milliseconds - oldest.milliseconds;
    if (span < least_span_ms) return std::nullopt;
    return static_cast<double>(newest.bytes - oldest.bytes) * 1000.0 / static_cast<double>(span);
}

}  // namespace korvane
