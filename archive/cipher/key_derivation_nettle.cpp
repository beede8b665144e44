// PBKDF2 over nettle's SHA-1, the native path where the CPU lacks the SHA
// extensions. Every round after the first hashes one 20-byte digest behind a
// 64-byte pad, which is exactly one compression from the pad's saved state;
// so the pads are hashed once per derivation and each round costs two calls
// of nettle_sha1_compress, with no buffering or padding work in between.
// nettle's own PBKDF2 rehashes through its generic HMAC each round and
// measured slower.
#include <nettle/sha1.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "archive/cipher/big_endian.h"
#include "archive/cipher/key_derivation.h"
#include "archive/cipher/wipe.h"

namespace korvane {

namespace {

constexpr std::size_t digest_size = SHA1_DIGEST_SIZE;
constexpr std::size_t block_size = SHA1_BLOCK_SIZE;
constexpr std::size_t state_words = digest_size / 4;

// The SHA-1 contexts of HMAC's inner and outer pad, each after its pad block.
struct Pads {
    sha1_ctx inner, outer;

    Pads(const unsigned char* key, std::size_t key_size) {
        unsigned char block[block_size] = {};
        if (key_size > block_size) {
            sha1_init(&inner);
            sha1_update(&inner, key_size, key);
            sha1_digest(&inner, digest_size, block);
        } else {
            std::memcpy(block, key, key_size);
        }
        for (unsigned char& b : block) b ^= 0x36;
        sha1_init(&inner);
        sha1_update(&inner, block_size, block);
        for (unsigned char& b : block) b ^= 0x36 ^ 0x5c;
        sha1_init(&outer);
        sha1_update(&outer, block_size, block);
        wipe(block, sizeof block);
    }
    Pads(const Pads&) = delete;
    Pads& operator=(const Pads&) = delete;
    ~Pads() {
        wipe(&inner, sizeof inner);
        wipe(&outer, sizeof outer);
    }

    // HMAC of a message of any length, through the library's own buffering.
    void mac(const unsigned char* a, std::size_t a_size, const unsigned char* b, std::size_t b_size,
             unsigned char* digest) const {
        sha1_ctx c = inner;
        sha1_update(&c, a_size, a);
        sha1_update(&c, b_size, b);
        sha1_digest(&c, digest_size, digest);
        c = outer;
        sha1_update(&c, digest_size, digest);
        sha1_digest(&c, digest_size, digest);
        wipe(&c, sizeof c);
    }
};

// One compression of `block` from a pad's state, in `state`; the digest
// replaces the block's first 20 bytes, ready to be the next message.
void compress_from(const sha1_ctx& pad, std::uint32_t* state, unsigned char* block) {
    std::memcpy(state, pad.state, state_words * 4);
    nettle_sha1_compress(state, block);
    for (std::size_t k = 0; k < state_words; ++k) store_be32(block + 4 * k, state[k]);
}

}  // namespace

bool pbkdf2_sha1_library(const unsigned char* password, std::size_t password_size,
                         const unsigned char* salt, std::size_t salt_size, unsigned int iterations,
                         unsigned char* out, std::size_t out_size) {
    if (iterations == 0) return false;
    const Pads pads(password, password_size);
    // A 20-byte message after a 64-byte pad: SHA-1's padding and the bit
    // length, 84 * 8, never change.
    unsigned char block[block_size] = {};
    block[digest_size] = 0x80;
    constexpr std::uint32_t message_bits = (block_size + digest_size) * 8;
    store_be32(block + block_size - 4, message_bits);
    // The sum is kept as the digest's words: XOR commutes with their byte
    // order, and a word XOR is a fifth of the work of a byte loop.
    std::uint32_t sum_words[state_words];
    unsigned char sum[digest_size];
    std::uint32_t state[state_words];
    for (std::uint32_t index = 1; out_size > 0; ++index) {
        unsigned char be_index[4];
        store_be32(be_index, index);
        pads.mac(salt, salt_size, be_index, sizeof be_index, block);
        for (std::size_t k = 0; k < state_words; ++k) sum_words[k] = load_be32(block + 4 * k);
        for (unsigned int i = 1; i < iterations; ++i) {
            compress_from(pads.inner, state, block);
            compress_from(pads.outer, state, block);
            for (std::size_t k = 0; k < state_words; ++k) sum_words[k] ^= state[k];
        }
        for (std::size_t k = 0; k < state_words; ++k) store_be32(sum + 4 * k, sum_words[k]);
        const std::size_t n = std::min(out_size, digest_size);
        std::memcpy(out, sum, n);
        out += n;
        out_size -= n;
    }
    wipe(block, sizeof block);
    wipe(sum, sizeof sum);
    wipe(sum_words, sizeof sum_words);
    wipe(state, sizeof state);
    return true;
}

}  // namespace korvane
