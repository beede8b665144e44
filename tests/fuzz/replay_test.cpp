// Every input in the fuzz corpora runs through its target in the normal
// test run, so a crash found once stays fixed.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz_targets.h"

namespace korvane::fuzz {
namespace {

namespace fs = std::filesystem;

using Target = int (*)(const std::uint8_t*, std::size_t);

void replay(const char* name, Target target) {
    const fs::path dir = fs::path(KORVANE_FUZZ_CORPUS) / name;
    ASSERT_TRUE(fs::is_directory(dir)) << dir;
    std::size_t inputs = 0;
    for (const auto& entry : fs::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
        SCOPED_TRACE(entry.path().string());
        target(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        ++inputs;
    }
    EXPECT_GT(inputs, 0u) << "empty corpus " << dir;
}

TEST(FuzzReplay, Reader) { replay("reader", reader_target); }
TEST(FuzzReplay, Scan) { replay("scan", scan_target); }
TEST(FuzzReplay, Crafted) { replay("crafted", crafted_target); }
TEST(FuzzReplay, CommandLine) { replay("command_line", command_line_target); }

}  // namespace
}  // namespace korvane::fuzz
