// Clearing of key material that is about to go out of scope.
#pragma once

#include <cstddef>

namespace korvane {

// A plain memset of a buffer that dies right after may be dropped by the
// optimiser; writes through a volatile pointer may not.
inline void wipe(void* p, std::size_t n) {
    volatile unsigned char* v = static_cast<volatile unsigned char*>(p);
    while (n--) *v++ = 0;
}

}  // namespace korvane
