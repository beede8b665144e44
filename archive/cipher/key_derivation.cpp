// PBKDF2 over the SHA-1 lanes, and the choice between it and the library's
// path. Per derivation the pads are hashed once and each output block's
// first round, U1 = HMAC(salt || index), one lane at a time (a handful of
// compressions); then up to four blocks run their remaining rounds side by
// side, which is where the time goes.
#include "archive/cipher/key_derivation.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "archive/cipher/big_endian.h"
#include "archive/cipher/sha1_lanes.h"
#include "archive/cipher/wipe.h"

namespace korvane {

namespace {

using sha1::block_size;
using sha1::digest_size;
using sha1::State;

void store_digest(const State& s, unsigned char* out) {
    for (std::size_t k = 0; k < 5; ++k) store_be32(out + 4 * k, s.h[k]);
}

// SHA-1 of a message over one lane, from the initial state or from a pad's
// state (which has taken one block).
class Hash {
  public:
    explicit Hash(const State& state = sha1::initial_state, std::uint64_t done = 0)
        : state_(state), total_(done) {}
    Hash(const Hash&) = delete;
    Hash& operator=(const Hash&) = delete;
    ~Hash() {
        wipe(&state_, sizeof state_);
        wipe(block_, sizeof block_);
    }

    void update(const unsigned char* p, std::size_t n) {
        total_ += n;
        while (n > 0) {
            const std::size_t take = std::min(n, block_size - used_);
            std::memcpy(block_ + used_, p, take);
            used_ += take;
            p += take;
            n -= take;
            if (used_ == block_size) compress();
        }
    }

    // The digest's words; nothing may follow.
    State finish() {
        const std::uint64_t bits = total_ * 8;
        block_[used_++] = 0x80;
        if (used_ > block_size - 8) {
            std::memset(block_ + used_, 0, block_size - used_);
            compress();
        }
        std::memset(block_ + used_, 0, block_size - 8 - used_);
        store_be32(block_ + block_size - 8, static_cast<std::uint32_t>(bits >> 32));
        store_be32(block_ + block_size - 4, static_cast<std::uint32_t>(bits));
        compress();
        return state_;
    }

  private:
    void compress() {
        const unsigned char* block = block_;
        sha1::compress(&state_, &block, 1);
        used_ = 0;
    }

    State state_;
    std::uint64_t total_;
    unsigned char block_[block_size] = {};
    std::size_t used_ = 0;
};

// HMAC's pad states, each after its pad block.
struct Pads {
    State inner = sha1::initial_state, outer = sha1::initial_state;

    Pads(const unsigned char* key, std::size_t key_size) {
        unsigned char block[block_size] = {};
        if (key_size > block_size) {
            Hash h;
            h.update(key, key_size);
            store_digest(h.finish(), block);
        } else if (key_size > 0) {
            std::memcpy(block, key, key_size);
        }
        const unsigned char* pad = block;
        for (unsigned char& b : block) b ^= 0x36;
        sha1::compress(&inner, &pad, 1);
        for (unsigned char& b : block) b ^= 0x36 ^ 0x5c;
        sha1::compress(&outer, &pad, 1);
        wipe(block, sizeof block);
    }
    Pads(const Pads&) = delete;
    Pads& operator=(const Pads&) = delete;
    ~Pads() {
        wipe(&inner, sizeof inner);
        wipe(&outer, sizeof outer);
    }
};

}  // namespace

bool pbkdf2_sha1_lanes(const unsigned char* password, std::size_t password_size,
                       const unsigned char* salt, std::size_t salt_size, unsigned int iterations,
                       unsigned char* out, std::size_t out_size) {
    if (iterations == 0) return false;
    const Pads pads(password, password_size);
    const std::size_t blocks = (out_size + digest_size - 1) / digest_size;
    State sums[sha1::max_lanes];
    unsigned char digest[digest_size];
    for (std::size_t first = 0; first < blocks; first += sha1::max_lanes) {
        const std::size_t lanes = std::min(sha1::max_lanes, blocks - first);
        for (std::size_t l = 0; l < lanes; ++l) {
            unsigned char index[4];
            store_be32(index, static_cast<std::uint32_t>(first + l + 1));
            Hash inner(pads.inner, block_size);
            inner.update(salt, salt_size);
            inner.update(index, sizeof index);
            store_digest(inner.finish(), digest);
            Hash outer(pads.outer, block_size);
            outer.update(digest, digest_size);
            sums[l] = outer.finish();
        }
        sha1::pbkdf2_rounds(pads.inner, pads.outer, sums, lanes, iterations - 1);
        for (std::size_t l = 0; l < lanes; ++l) {
            store_digest(sums[l], digest);
            const std::size_t n = std::min(out_size, digest_size);
            std::memcpy(out, digest, n);
            out += n;
            out_size -= n;
        }
    }
    wipe(sums, sizeof sums);
    wipe(digest, sizeof digest);
    return true;
}

bool pbkdf2_sha1(const unsigned char* password, std::size_t password_size,
                 const unsigned char* salt, std::size_t salt_size, unsigned int iterations,
                 unsigned char* out, std::size_t out_size) {
    return sha1::lanes_usable() ? pbkdf2_sha1_lanes(password, password_size, salt, salt_size,
                                                    iterations, out, out_size)
                                : pbkdf2_sha1_library(password, password_size, salt, salt_size,
                                                      iterations, out, out_size);
}

}  // namespace korvane
