#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "engine/reader.h"
#include "fuzz_scratch.h"

namespace korvane::fuzz {

void fail(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

const char* password_for(const std::uint8_t* data, std::size_t size) {
    // The strength byte of the first local header's AE extra field.
    if (size < 30) return passwords[0];
    const std::size_t at = 30 + (data[26] | (data[27] << 8)) + 8;
    if (at >= size || data[at] < 1 || data[at] > 3) return passwords[0];
    return passwords[data[at] - 1];
}

int reader_target(const std::uint8_t* data, std::size_t size) {
    Scratch& s = scratch();
    s.write_archive(data, size);
    ArchiveReader reader;
    // Two threads: entries decoded ahead, and wound back after a failure.
    reader.set_workers(2);
    std::atomic<std::uint64_t> processed{0};
    std::atomic<bool> cancel{false};
    const ResultCode result = reader.extract_all(s.archive().c_str(), s.destination().c_str(),
                                                 password_for(data, size), processed, cancel);
    s.check_after(result);
    return 0;
}

}  // namespace korvane::fuzz
