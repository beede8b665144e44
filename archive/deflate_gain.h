// Whether deflate can make a chunk smaller, judged before it tries. Photos,
// videos and office files are compressed already: deflate spends most of a
// lock searching them for matches that are not there and then gains nothing,
// so such a chunk is stored instead (as stored blocks of the same raw deflate
// stream, which every reader inflates).
#pragma once

#include <cstddef>

namespace korvane {

// Below this size a chunk is always deflated: the judgement would cost about
// what deflate does, and a byte count this small says little.
inline constexpr std::size_t deflate_gain_min_size = 4096;

// True when deflate at this level (1-9) may gain on these bytes: their byte
// frequencies leave room for Huffman codes, or sequences repeat within
// deflate's 32 KiB reach. False only for bytes that look random on both
// counts. Depends on the bytes and the level alone, so every run and every
// thread count judges a chunk the same way; level 0 never deflates anyway.
bool deflate_can_gain(const unsigned char* data, std::size_t size, int level);

}  // namespace korvane
