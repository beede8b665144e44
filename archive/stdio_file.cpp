#include "archive/stdio_file.h"

#include <algorithm>

#include "platform/platform.h"

namespace korvane {

namespace {

constexpr std::int64_t read_through_limit = archive_buffer_size;

}  // namespace

bool go_to(std::FILE* f, std::int64_t& position, std::int64_t offset) {
    if (position == offset) return true;
    if (position < 0 || offset < position || offset - position > read_through_limit) {
        position = platform::seek_to(f, offset) ? offset : -1;
        return position >= 0;
    }
    unsigned char skipped[4096];
    while (position < offset) {
        const auto step =
            static_cast<std::size_t>(std::min<std::int64_t>(offset - position, sizeof skipped));
        const std::size_t got = std::fread(skipped, 1, step, f);
        position += static_cast<std::int64_t>(got);
        // Past the end, as a seek may go: the next read fails.
        if (got < step) break;
    }
    return true;
}

bool read_at(std::FILE* f, std::int64_t& position, std::int64_t offset, unsigned char* buffer,
             std::size_t length, std::size_t& got) {
    if (!go_to(f, position, offset)) return false;
    got = std::fread(buffer, 1, length, f);
    position = got == length ? offset + static_cast<std::int64_t>(got) : -1;
    return true;
}

bool read_on(std::FILE* f, std::int64_t& position, void* buffer, std::size_t length) {
    const bool whole = read_exact(f, buffer, length);
    position = whole && position >= 0 ? position + static_cast<std::int64_t>(length) : -1;
    return whole;
}

}  // namespace korvane
