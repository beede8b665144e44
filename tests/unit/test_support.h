// Helpers every kind of test shares: whole files in and out, example paths in
// the platform's spelling, and raw deflate streams for hand-made entries.
#pragma once

#include <zlib.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace korvane::test {

// Writes a whole file; the path is UTF-8, as every path inside the program.
inline bool write_file(const std::string& path, std::string_view content) {
    std::FILE* f = platform::open_file(path.c_str(), "wb");
    if (!f) return false;
    const bool written = std::fwrite(content.data(), 1, content.size(), f) == content.size();
    return std::fclose(f) == 0 && written;
}

// The whole file; empty when it cannot be read.
inline std::string read_file(const std::string& path) {
    std::string content;
    if (std::FILE* f = platform::open_file(path.c_str(), "rb")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
            content.append(buffer, n);
        std::fclose(f);
    }
    return content;
}

// An example path written with written_separator between components, in the
// platform's spelling.
inline std::string native_path(std::string path, char written_separator = '/') {
    for (char& c : path)
        if (c == written_separator) c = platform::separator;
    return path;
}

// A raw deflate stream (no zlib header) of text, as other tools store it.
inline std::string raw_deflate(std::string_view text, int level = 6) {
    std::string out(compressBound(static_cast<uLong>(text.size())) + 64, '\0');
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

}  // namespace korvane::test
