// PBKDF2-HMAC-SHA1, the key derivation of every AES entry. One implementation
// per build, chosen in CMake: over nettle natively (its SHA-1 uses the CPU's
// SHA extensions, the fastest vetted code here), over libgcrypt in the win32
// build, for which no nettle is packaged.
#pragma once

#include <cstddef>

namespace korvane {

// Fills out[0, out_size) from the password and the salt; iterations is at
// least 1. False on a failure
// inside the library; out then holds nothing usable.
bool pbkdf2_sha1(const unsigned char* password, std::size_t password_size,
                 const unsigned char* salt, std::size_t salt_size, unsigned int iterations,
                 unsigned char* out, std::size_t out_size);

}  // namespace korvane
