// SHA-1's big-endian words to and from bytes.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace korvane {

// One byte swap and one memory access where the compiler sees them as such.
inline void store_be32(unsigned char* p, std::uint32_t v) {
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap32(v);
    std::memcpy(p, &v, 4);
}

inline std::uint32_t load_be32(const unsigned char* p) {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap32(v);
    return v;
}

}  // namespace korvane
