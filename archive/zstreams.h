// Raw deflate and inflate streams (no zlib header, 32 KiB window), kept for
// a whole job and reset between entries rather than allocated per entry.
#pragma once

#include <zlib.h>

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

}  // namespace korvane
