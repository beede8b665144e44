// PBKDF2-HMAC-SHA1 over a SHA-1 compression: the one driver behind the lanes
// and behind the native library path over nettle's compression.
#pragma once

#include <cstddef>

#include "archive/cipher/big_endian.h"
#include "archive/cipher/sha1_lanes.h"

namespace korvane {

// How a derivation's hashing is done: `compress` one block at a time for the
// pads and each block's first round, `rounds` for the rounds after the first
// of up to `lanes` output blocks at once (sha1::pbkdf2_rounds' contract).
struct Sha1Engine {
    void (*compress)(sha1::State& state, const unsigned char* block);
    void (*rounds)(const sha1::State& inner, const sha1::State& outer, sha1::State* sums,
                   std::size_t lanes, unsigned int count);
    std::size_t lanes;
};

// pbkdf2_sha1's contract, over the engine.
bool pbkdf2_sha1_over(const Sha1Engine& engine, const unsigned char* password,
                      std::size_t password_size, const unsigned char* salt, std::size_t salt_size,
                      unsigned int iterations, unsigned char* out, std::size_t out_size);

// The digest's bytes from its words.
inline void store_digest(const sha1::State& s, unsigned char* out) {
    for (std::size_t k = 0; k < 5; ++k) store_be32(out + 4 * k, s.h[k]);
}

}  // namespace korvane
