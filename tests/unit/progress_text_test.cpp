// What the progress window says beside its bar: sizes, speeds, the time
// left, and the speed measured over the last samples.
#include "ops/progress_text.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace korvane {
namespace {

TEST(ProgressText, SizesSpeedsAndTimesLeft) {
    EXPECT_EQ(bytes_done_text(50, 200), "50 bytes of 200 bytes");
    EXPECT_EQ(bytes_done_text(300, 200), "200 bytes of 200 bytes");  // never past the total
    EXPECT_EQ(bytes_done_text(1536, std::uint64_t{5} << 30), "1.5 KB of 5.0 GB");
    EXPECT_EQ(speed_text(20.5 * 1024 * 1024), "20 MB/s");
    EXPECT_EQ(speed_text(-1.0), "0 bytes/s");
    const struct {
        std::uint64_t seconds;
        const char* text;
    } times[] = {{0, "About 1 second left"},
                 {1, "About 1 second left"},
                 {59, "About 59 seconds left"},
                 {60, "About 1 minute left"},
                 {61, "About 2 minutes left"},
                 {3600, "About 1 hour left"},
                 {3661, "About 1 hour 2 minutes left"},
                 {7200, "About 2 hours left"}};
    for (const auto& t : times) EXPECT_EQ(time_left_text(t.seconds), t.text) << t.seconds;

    TransferRate rate;
    rate.add(0, 0);
    rate.add(500, 1000);
    EXPECT_FALSE(rate.bytes_per_second());  // half a second tells too little
    rate.add(1000, 2000);
    ASSERT_TRUE(rate.bytes_per_second());
    EXPECT_DOUBLE_EQ(*rate.bytes_per_second(), 2000.0);
    rate.add(1250, 0);  // a counter set back starts the count again
    EXPECT_FALSE(rate.bytes_per_second());
    for (std::uint64_t ms = 1500; ms <= 10000; ms += 250) rate.add(ms, ms * 3);
    // Only the last samples count: 3 bytes a millisecond.
    EXPECT_DOUBLE_EQ(*rate.bytes_per_second(), 3000.0);
}

}  // namespace
}  // namespace korvane
