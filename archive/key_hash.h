// Names known by hashes taken along them (FNV-1a), each folder's the hash of
// the name up to its separator: comparing every entry's folders costs the
// names' length, not its square. A hit is only a candidate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace korvane {

using KeyHash = std::uint64_t;
inline constexpr KeyHash empty_key_hash = 0xCBF29CE484222325u;

// Calls folder(hash, length) for each '/' after the first character, with
// the hash of the key's first length bytes; returns the whole key's hash.
template <typename Folder>
KeyHash hash_along(std::string_view key, Folder&& folder) {
    KeyHash h = empty_key_hash;
    for (std::size_t at = 0; at < key.size(); ++at) {
        if (at > 0 && key[at] == '/') folder(h, at);
        h = (h ^ static_cast<unsigned char>(key[at])) * KeyHash{0x100000001B3u};
    }
    return h;
}

}  // namespace korvane
