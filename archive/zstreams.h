// Raw deflate and inflate streams (no zlib header, 32 KiB window), kept for
// a whole job and reset between entries rather than allocated per entry.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <optional>

#include "archive/result_code.h"

namespace korvane {

class Deflater {
  public:
    Deflater() = default;
    ~Deflater() { end(); }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    // Ready for a new stream at this level; false when zlib refuses it (an
    // out-of-range level, no memory).
    bool start(int level);
    z_stream& stream() { return stream_; }

  private:
    void end();
    z_stream stream_{};
    bool live_ = false;
    int level_ = 0;
};

class Inflater {
  public:
    Inflater() = default;
    ~Inflater() { end(); }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    bool start();
    z_stream& stream() { return stream_; }

  private:
    void end();
    z_stream stream_{};
    bool live_ = false;
};

// Inflates one raw stream of `remaining` input bytes into windows of at most
// window_size bytes, starting with out; it must come to exactly *size bytes
// (any number when size is unset) and end where its input ends, or it fails
// with 5.
// read(left, data, length) points data at the next length bytes of input, at
// most left of them; emit(out, filled, last) hands a window on and may point
// out at the next one; stop() is asked after every pass, the last one too.
// A non-zero code from read or emit ends it with that code.
template <typename Read, typename Emit, typename Stop>
ResultCode inflate_exact(Inflater& inflater, std::uint64_t remaining,
                         std::optional<std::uint64_t> size, unsigned char* out,
                         unsigned int window_size, Read read, Emit emit, Stop stop) {
    if (!inflater.start()) return result_expansion_error;
    // What the stream may still give; the window it inflates into holds at
    // most one byte more, so a stream longer than its entry stops there.
    std::uint64_t left = size ? *size : UINT64_MAX;
    unsigned int window = 0;
    z_stream& z = inflater.stream();
    auto next_window = [&] {
        window = left < window_size ? static_cast<unsigned int>(left + 1) : window_size;
        z.next_out = out;
        z.avail_out = window;
    };
    z.avail_in = 0;
    next_window();
    // Every pass takes a block in or gives a window out, or ends the stream.
    while (true) {
        if (z.avail_in == 0 && remaining > 0) {
            if (const ResultCode r = read(remaining, z.next_in, z.avail_in)) return r;
            remaining -= z.avail_in;
        }
        const int status = inflate(&z, Z_NO_FLUSH);
        const unsigned int filled = window - z.avail_out;
        if (filled > left) return result_expansion_error;
        if (status == Z_STREAM_END) {
            // Bytes after the stream's end would be data no reader restores.
            if ((size && filled != left) || z.avail_in != 0 || remaining != 0)
                return result_expansion_error;
            if (const ResultCode r = emit(out, filled, true)) return r;
            // The last block too: a file of one block is cancelled like any other.
            return stop() ? result_cancelled : result_ok;
        }
        // Corrupt data, or a stream that wants more than the entry holds.
        const bool starved = z.avail_in == 0 && remaining == 0 && z.avail_out != 0;
        if ((status != Z_OK && status != Z_BUF_ERROR) || starved) return result_expansion_error;
        if (z.avail_out == 0) {
            if (const ResultCode r = emit(out, window, false)) return r;
            left -= window;
            next_window();
        }
        if (stop()) return result_cancelled;
    }
}

}  // namespace korvane
