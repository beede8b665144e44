#include "archive/zstreams.h"

namespace korvane {

namespace {
constexpr int raw_window_bits = -15;
constexpr int memory_level = 8;
}  // namespace

bool Deflater::start(int level) {
    if (live_ && level == level_) return deflateReset(&stream_) == Z_OK;
    end();
    stream_ = z_stream{};
    if (deflateInit2(&stream_, level, Z_DEFLATED, raw_window_bits, memory_level,
                     Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    live_ = true;
    level_ = level;
    return true;
}

void Deflater::end() {
    if (live_) deflateEnd(&stream_);
    live_ = false;
}

bool Inflater::start() {
    if (live_) return inflateReset(&stream_) == Z_OK;
    stream_ = z_stream{};
    if (inflateInit2(&stream_, raw_window_bits) != Z_OK) return false;
    live_ = true;
    return true;
}

void Inflater::end() {
    if (live_) inflateEnd(&stream_);
    live_ = false;
}

}  // namespace korvane
