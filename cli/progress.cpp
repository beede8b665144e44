#include "cli/progress.h"

#include <cstdio>

namespace korvane::cli {

namespace {

std::string time_left(double seconds) {
    if (seconds >= 100.0 * 3600) return "--";  // an estimate this far out means nothing
    const auto s = static_cast<unsigned long>(seconds + 0.5);
    char text[32];
    if (s >= 3600) {
        std::snprintf(text, sizeof text, "%lu:%02lu:%02lu", s / 3600, s / 60 % 60, s % 60);
    } else {
        std::snprintf(text, sizeof text, "%lu:%02lu", s / 60, s % 60);
    }
    return text;
}

}  // namespace

std::string byte_count(std::uint64_t bytes) {
    char text[32];
    if (bytes < 1024) {
        std::snprintf(text, sizeof text, "%u B", static_cast<unsigned>(bytes));
        return text;
    }
    static const char* const units[] = {"KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes) / 1024;
    std::size_t unit = 0;
    // Switch units before "1024.0 KiB" would be printed.
    while (value >= 1023.95 && unit + 1 < sizeof units / sizeof *units) {
        value /= 1024;
        ++unit;
    }
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string progress_line(std::uint64_t done, std::uint64_t total, double seconds) {
    if (done > total) done = total;
    const unsigned percent = total == 0 ? 100u : static_cast<unsigned>(done * 100 / total);
    std::string line;
    char head[16];
    std::snprintf(head, sizeof head, "%3u%%", percent);
    line = head;
    line += "  " + byte_count(done) + " of " + byte_count(total);
    if (done == 0 || seconds <= 0) return line + "  --/s  -- left";
    const double rate = static_cast<double>(done) / seconds;
    line += "  " + byte_count(static_cast<std::uint64_t>(rate)) + "/s";
    line += "  " + time_left(static_cast<double>(total - done) / rate) + " left";
    return line;
}

ProgressBar::ProgressBar(bool visible) : visible_(visible), start_(Clock::now()) {}

ProgressBar::~ProgressBar() {
    clear();
}

void ProgressBar::update(std::uint64_t done, std::uint64_t total) {
    if (!visible_) return;
    const Clock::time_point now = Clock::now();
    if (drawn_ && now - last_drawn_ < std::chrono::milliseconds(100)) return;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    std::string line = progress_line(done, total, seconds);
    const std::size_t length = line.size();
    // Blank what a longer earlier line left behind.
    if (length < width_) line.append(width_ - length, ' ');
    std::fprintf(stderr, "\r%s", line.c_str());
    std::fflush(stderr);
    width_ = length > width_ ? length : width_;
    last_drawn_ = now;
    drawn_ = true;
}

void ProgressBar::clear() {
    if (!visible_ || !drawn_) return;
    std::fprintf(stderr, "\r%s\r", std::string(width_, ' ').c_str());
    std::fflush(stderr);
    drawn_ = false;
    width_ = 0;
}

}  // namespace korvane::cli
