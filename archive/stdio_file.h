// Owned C runtime streams: closed exactly once, on every way out.
#pragma once

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

}  // namespace korvane
