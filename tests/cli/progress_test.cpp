// The progress line's arithmetic: unit switches, percent rounding, rate and
// time left, and the states before anything is known.
#include <gtest/gtest.h>

#include "cli/naming.h"
#include "cli/progress.h"

namespace korvane::cli {
namespace {

TEST(Progress, ByteCountsSwitchUnitsBeforeShowing1024) {
    const std::pair<std::uint64_t, const char*> cases[] = {
        {0, "0 B"},
        {1023, "1023 B"},
        {1024, "1.0 KiB"},
        {1536, "1.5 KiB"},
        {1024 * 1024 - 52, "1023.9 KiB"},
        {1024 * 1024 - 51, "1.0 MiB"},  // would round to "1024.0 KiB"
        {std::uint64_t{2} << 30, "2.0 GiB"},
        {std::uint64_t{5} << 40, "5.0 TiB"},
        {std::uint64_t{5} << 50, "5120.0 TiB"},
    };
    for (const auto& [bytes, text] : cases) EXPECT_EQ(byte_count(bytes), text) << bytes;
}

TEST(Progress, LineShowsPercentRateAndTimeLeft) {
    struct Case {
        std::uint64_t done, total;
        double seconds;
        const char* line;
    };
    const Case cases[] = {
        {0, 4096, 0.5, "  0%  0 B of 4.0 KiB  --/s  -- left"},
        {0, 0, 1.0, "100%  0 B of 0 B  --/s  -- left"},
        {1024, 4096, 1.0, " 25%  1.0 KiB of 4.0 KiB  1.0 KiB/s  0:03 left"},
        {4095, 4096, 1.0, " 99%  4.0 KiB of 4.0 KiB  4.0 KiB/s  0:00 left"},
        {5000, 4096, 1.0, "100%  4.0 KiB of 4.0 KiB  4.0 KiB/s  0:00 left"},
        {1 << 20, 3u << 30, 1.0, "  0%  1.0 MiB of 3.0 GiB  1.0 MiB/s  51:11 left"},
        {1 << 20, std::uint64_t{5} << 30, 1.0, "  0%  1.0 MiB of 5.0 GiB  1.0 MiB/s  1:25:19 left"},
        {1, 3u << 30, 10.0, "  0%  1 B of 3.0 GiB  0 B/s  -- left"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(progress_line(c.done, c.total, c.seconds), c.line) << c.done << "/" << c.total;
}

TEST(Naming, TrailingSeparatorsGoButARootStays) {
    const std::pair<const char*, const char*> cases[] = {
        {"folder/", "folder"},
        {"folder//", "folder"},
        {"a/b/", "a/b"},
        {"/", "/"},
        {"//", "/"},
        {"name", "name"},
        {"", ""},
#ifdef _WIN32
        {"folder\\", "folder"},
        {"C:\\", "C:\\"},
        {"C:\\data\\\\", "C:\\data"},
#endif
    };
    for (const auto& [path, expected] : cases)
        EXPECT_EQ(without_trailing_separators(path), expected) << path;
}

}  // namespace
}  // namespace korvane::cli
