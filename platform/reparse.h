// Which reparse points are links. Kept apart from the win32 seam as a pure
// rule over the find data's numbers, so both builds can test it.
#pragma once

#include <cstdint>

namespace korvane::platform::detail {

inline constexpr std::uint32_t attribute_reparse_point = 0x400;
// The tag bit Windows sets for reparse points that stand for another name.
inline constexpr std::uint32_t tag_name_surrogate = 0x20000000;

// Symbolic links and junctions stand for another name and are not entered:
// a loop through one would never end, and its target is archived where it
// lives. Any other reparse point (a cloud placeholder, a deduplicated file)
// is the content itself. The tag is the find data's dwReserved0, which only
// means something when the attribute is set.
constexpr bool is_name_surrogate(std::uint32_t attributes, std::uint32_t reparse_tag) {
    return (attributes & attribute_reparse_point) != 0 && (reparse_tag & tag_name_surrogate) != 0;
}

}  // namespace korvane::platform::detail
