#include <atomic>

#include "engine/reader.h"
#include "fuzz_scratch.h"

namespace korvane::fuzz {

int scan_target(const std::uint8_t* data, std::size_t size) {
    Scratch& s = scratch();
    s.write_archive(data, size);
    ArchiveReader reader;
    std::size_t entries = 0;
    const ResultCode listed = reader.list_all(s.archive().c_str(), [&](const EntrySummary& e) {
        check(e.strength >= 0 && e.strength <= 3, "strength outside 0..3");
        ++entries;
        return result_ok;
    });
    check(listed >= 0 && listed < result_code_count, "list result not a result code");
    check(entries <= size / 46, "more entries than central records fit");
    std::atomic<std::uint64_t> processed{0};
    std::atomic<bool> cancel{false};
    const ResultCode tested =
        reader.test_all(s.archive().c_str(), password_for(data, size), processed, cancel);
    // Testing writes nothing at all.
    check(!std::filesystem::exists(s.destination()), "testing created the destination");
    s.check_after(tested);
    return 0;
}

}  // namespace korvane::fuzz
