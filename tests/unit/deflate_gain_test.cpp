#include "archive/deflate_gain.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "archive_support.h"
#include "engine/chunk_encoder.h"

namespace korvane {
namespace {

using test::noise;
using test::text;

// What one level-6 raw deflate stream makes of the bytes, as a share of them.
double deflate_ratio(const std::string& bytes) {
    return double(test::raw_deflate(bytes, 6).size()) / double(bytes.size());
}

std::string repeated(const std::string& block, std::size_t size) {
    std::string s;
    while (s.size() < size) s += block;
    s.resize(size);
    return s;
}

// Random bytes drawn with probability falling as exp(-steepness * value /
// 256): the larger the steepness, the lower the entropy.
std::string skewed(std::size_t size, double steepness) {
    double weights[256], total = 0;
    for (int v = 0; v < 256; ++v) total += weights[v] = std::exp(-steepness * v / 256);
    std::string s(size, '\0');
    std::uint32_t seed = 7;
    for (auto& c : s) {
        seed = seed * 1664525u + 1013904223u;
        double pick = (seed >> 8) / double(1u << 24) * total;
        int v = 0;
        while (v < 255 && (pick -= weights[v]) > 0) ++v;
        c = static_cast<char>(v);
    }
    return s;
}

// Each chunk's judgement, checked against what deflate really makes of it:
// a chunk judged unable to gain must not deflate smaller than it is, and one
// that deflates 1 % smaller or more must be judged able to gain.
TEST(DeflateGain, JudgesEachKindOfChunkAsDeflateWouldFare) {
    const std::size_t chunk = deflate_chunk_size;
    std::string mostly_noise = noise(chunk - 20000, 9) + text(20000);
    std::string text_then_noise = text(chunk / 2) + noise(chunk / 2, 10);
    const struct {
        const char* what;
        std::string bytes;
        bool gains;
    } cases[] = {
        {"random bytes", noise(chunk, 1), false},
        {"deflated data, as in ZIP-based office files",
         test::raw_deflate(skewed(4 * chunk, 5.0), 9).substr(0, chunk), false},
        {"skewed bytes, 7.94 bits", skewed(chunk, 1.0), false},
        {"skewed bytes, 7.87 bits", skewed(chunk, 1.5), true},
        {"text", text(chunk), true},
        {"zeros", std::string(chunk, '\0'), true},
        {"a random 16 KiB block repeated", repeated(noise(16384, 3), chunk), true},
        {"a random 30 KiB block repeated", repeated(noise(30000, 4), chunk), true},
        // Deflate reaches back 32 KiB only: random bytes repeated from further
        // away stay random to it.
        {"a random 64 KiB block repeated", repeated(noise(65536, 5), chunk), false},
        {"noise with text at its end", mostly_noise, true},
        {"half text, half noise", text_then_noise, true},
        {"a small file of noise", noise(deflate_gain_min_size, 6), false},
        {"a file below the judged size", noise(deflate_gain_min_size - 1, 6), true},
    };
    for (const auto& c : cases) {
        const auto* data = reinterpret_cast<const unsigned char*>(c.bytes.data());
        EXPECT_EQ(deflate_can_gain(data, c.bytes.size(), 6), c.gains) << c.what;
        const double ratio = deflate_ratio(c.bytes);
        if (c.bytes.size() >= deflate_gain_min_size) {
            if (!c.gains) {
                EXPECT_GE(ratio, 0.995) << c.what;
            }
            if (ratio < 0.99) {
                EXPECT_TRUE(c.gains) << c.what;
            }
        }
        // The level counts only as deflating or not.
        for (int level : {1, 9})
            EXPECT_EQ(deflate_can_gain(data, c.bytes.size(), level), c.gains) << c.what;
        EXPECT_FALSE(deflate_can_gain(data, c.bytes.size(), 0)) << c.what;
    }
}

}  // namespace
}  // namespace korvane
