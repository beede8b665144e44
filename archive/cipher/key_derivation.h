// PBKDF2-HMAC-SHA1, the key derivation of every AES entry. Where the CPU has
// the SHA extensions, the output blocks of a derivation run side by side as
// lanes of our own (sha1_lanes.h); elsewhere the library's path runs, one per
// build, chosen in CMake: our driver over nettle's compression natively,
// libgcrypt's PBKDF2 in the Windows builds, for which no nettle is packaged.
#pragma once

#include <cstddef>

namespace korvane {

// Fills out[0, out_size) from the password and the salt; iterations is at
// least 1. False on a failure inside the library, or for 0 iterations; out
// then holds nothing usable. Takes the lanes when the CPU has them.
bool pbkdf2_sha1(const unsigned char* password, std::size_t password_size,
                 const unsigned char* salt, std::size_t salt_size, unsigned int iterations,
                 unsigned char* out, std::size_t out_size);

// The two paths pbkdf2_sha1 chooses between, the same contract; named for
// the tests and the benchmark. The lanes one only where
// sha1::lanes_usable().
bool pbkdf2_sha1_lanes(const unsigned char* password, std::size_t password_size,
                       const unsigned char* salt, std::size_t salt_size, unsigned int iterations,
                       unsigned char* out, std::size_t out_size);
bool pbkdf2_sha1_library(const unsigned char* password, std::size_t password_size,
                         const unsigned char* salt, std::size_t salt_size, unsigned int iterations,
                         unsigned char* out, std::size_t out_size);

}  // namespace korvane
