// UTF-8 stepping and checking shared by both implementations of the seam.
#pragma once

#include <cstddef>
#include <string_view>

namespace korvane::platform::detail {

// Expected length of the sequence a byte starts; 1 for ASCII and for bytes
// that cannot start one.
constexpr std::size_t utf8_sequence_length(unsigned char c) {
    if (c >= 0xC2 && c <= 0xDF) return 2;
    if (c >= 0xE0 && c <= 0xEF) return 3;
    if (c >= 0xF0 && c <= 0xF4) return 4;
    return 1;
}

// Well-formed UTF-8: no stray continuation bytes, no overlong forms, no
// surrogates, nothing above U+10FFFF.
bool is_valid_utf8(std::string_view s);

bool is_ascii(std::string_view s);

}  // namespace korvane::platform::detail
