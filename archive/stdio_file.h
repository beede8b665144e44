// Owned C runtime streams: closed exactly once, on every way out; reads at
// an offset that keep track of where the stream is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace korvane {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Closes now and reports whether buffered data reached the file.
inline bool close_file(FilePtr& file) {
    std::FILE* f = file.release();
    return f && std::fclose(f) == 0;
}

// Reads exactly length bytes; false on a short read or an error.
inline bool read_exact(std::FILE* f, void* buffer, std::size_t length) {
    return std::fread(buffer, 1, length, f) == length;
}

inline bool write_exact(std::FILE* f, const void* buffer, std::size_t length) {
    return std::fwrite(buffer, 1, length, f) == length;
}

// Small entries lie a few KiB apart: a larger buffer than the default reads
// several at once.
inline constexpr std::size_t archive_buffer_size = 65536;

// A seek costs a call and drops the stream's buffer, and asking the stream
// where it is costs a call too, so these keep the position themselves in
// position (-1 when unknown).

// Moves the stream to offset: no call when it is there already, as it is
// when records are read one after the other; a short step forward (over a
// small entry) reads through the buffer.
bool go_to(std::FILE* f, std::int64_t& position, std::int64_t offset);

// Reads up to length bytes at offset; got tells how many.
bool read_at(std::FILE* f, std::int64_t& position, std::int64_t offset, unsigned char* buffer,
             std::size_t length, std::size_t& got);

// read_exact, keeping the position.
bool read_on(std::FILE* f, std::int64_t& position, void* buffer, std::size_t length);

}  // namespace korvane
