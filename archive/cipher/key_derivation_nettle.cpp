// The native library path, where the CPU lacks the SHA extensions: the PBKDF2
// driver over nettle's SHA-1 compression, one output block after another.
// Every round after the first hashes one 20-byte digest behind a 64-byte
// pad, which is exactly one compression from the pad's saved state: two calls
// of nettle_sha1_compress, with no buffering or padding work in between.
// nettle's own PBKDF2 rehashes through its generic HMAC each round and
// measured slower.
#include <nettle/sha1.h>

#include "archive/cipher/key_derivation.h"
#include "archive/cipher/pbkdf2_driver.h"
#include "archive/cipher/wipe.h"

namespace korvane {

namespace {

using sha1::block_size;
using sha1::digest_size;
using sha1::State;

void compress(State& state, const unsigned char* block) {
    nettle_sha1_compress(state.h, block);
}

void rounds(const State& inner, const State& outer, State* sums, std::size_t lanes,
            unsigned int count) {
    // A 20-byte message after a 64-byte pad: SHA-1's padding and the bit
    // length, 84 * 8, never change.
    unsigned char block[block_size] = {};
    block[digest_size] = 0x80;
    store_be32(block + block_size - 4, (block_size + digest_size) * 8);
    State state;
    for (std::size_t l = 0; l < lanes; ++l) {
        store_digest(sums[l], block);
        for (unsigned int i = 0; i < count; ++i) {
            state = inner;
            nettle_sha1_compress(state.h, block);
            store_digest(state, block);
            state = outer;
            nettle_sha1_compress(state.h, block);
            store_digest(state, block);
            for (std::size_t k = 0; k < 5; ++k) sums[l].h[k] ^= state.h[k];
        }
    }
    wipe(block, sizeof block);
    wipe(&state, sizeof state);
}

const Sha1Engine nettle_engine = {compress, rounds, 1};

}  // namespace

bool pbkdf2_sha1_library(const unsigned char* password, std::size_t password_size,
                         const unsigned char* salt, std::size_t salt_size, unsigned int iterations,
                         unsigned char* out, std::size_t out_size) {
    return pbkdf2_sha1_over(nettle_engine, password, password_size, salt, salt_size, iterations,
                            out, out_size);
}

}  // namespace korvane
