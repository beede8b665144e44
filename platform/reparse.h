// Which reparse points are links. Kept apart from the win32 seam as a pure
// rule over the find data's numbers, so both builds can test it.
#pragma once

#include <cstdint>

namespace korvane::platform::detail {

inline constexpr std::uint32_t attribute_reparse_point = 0x400;
// The tag bit Windows sets for reparse points that stand for another name.
inline constexpr std::uint32_t tag_name_surrogate = 0x20000000;
// Junctions and mounted volumes share this tag.
inline constexpr std::uint32_t tag_mount_point = 0xA0000003;

// Symbolic links and junctions stand for another name and are not entered:
// their target is archived where it lives. Any other reparse point (a cloud
// placeholder, a deduplicated file) is the content itself. The tag is the
// find data's dwReserved0, which only means something when the attribute is
// set. Tag 0 is reserved and so means no tag was reported (Wine reports none
// for its symbolic links): such a point is taken for a link, as it was before
// tags were read. A mounted volume is no other name for a folder but a drive
// of its own, so it is entered; only the system can tell it from a junction.
constexpr bool is_link_reparse_point(std::uint32_t attributes, std::uint32_t reparse_tag,
                                     bool mounted_volume = false) {
    if ((attributes & attribute_reparse_point) == 0) return false;
    if (reparse_tag == tag_mount_point) return !mounted_volume;
    return reparse_tag == 0 || (reparse_tag & tag_name_surrogate) != 0;
}

}  // namespace korvane::platform::detail
