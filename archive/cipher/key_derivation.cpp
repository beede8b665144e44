// The PBKDF2 driver, the lanes' engine, and the choice between the lanes and
// the library's path. Per derivation the pads are hashed once and each
// output block's first round, U1 = HMAC(salt || index), one block at a time
// (a handful of compressions); then the engine runs the remaining rounds,
// where the time goes: with the lanes, up to four output blocks side by side.
#include "archive/cipher/key_derivation.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "archive/cipher/pbkdf2_driver.h"
#include "archive/cipher/wipe.h"

namespace korvane {

namespace {

using sha1::block_size;
using sha1::digest_size;
using sha1::State;

// SHA-1 of a message, from the initial state or from a pad's state (which
// has taken one block).
class Hash {
  public:
    explicit Hash(const Sha1Engine& engine, const State& state = sha1::initial_state,
                  std::uint64_t done = 0)
        : engine_(engine), state_(state), total_(done) {}
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
        engine_.compress(state_, block_);
        used_ = 0;
    }

    const Sha1Engine& engine_;
    State state_;
    std::uint64_t total_;
    unsigned char block_[block_size] = {};
    std::size_t used_ = 0;
};

// HMAC's pad states, each after its pad block.
struct Pads {
    State inner = sha1::initial_state, outer = sha1::initial_state;

    Pads(const Sha1Engine& engine, const unsigned char* key, std::size_t key_size) {
        unsigned char block[block_size] = {};
        if (key_size > block_size) {
            Hash h(engine);
            h.update(key, key_size);
            store_digest(h.finish(), block);
        } else if (key_size > 0) {
            std::memcpy(block, key, key_size);
        }
        for (unsigned char& b : block) b ^= 0x36;
        engine.compress(inner, block);
        for (unsigned char& b : block) b ^= 0x36 ^ 0x5c;
        engine.compress(outer, block);
        wipe(block, sizeof block);
    }
    Pads(const Pads&) = delete;
    Pads& operator=(const Pads&) = delete;
    ~Pads() {
        wipe(&inner, sizeof inner);
        wipe(&outer, sizeof outer);
    }
};

void compress_one_lane(State& state, const unsigned char* block) {
    sha1::compress(&state, &block, 1);
}

const Sha1Engine lanes_engine = {compress_one_lane, sha1::pbkdf2_rounds, sha1::max_lanes};

}  // namespace

bool pbkdf2_sha1_over(const Sha1Engine& engine, const unsigned char* password,
                      std::size_t password_size, const unsigned char* salt, std::size_t salt_size,
                      unsigned int iterations, unsigned char* out, std::size_t out_size) {
    if (iterations == 0) return false;
    const Pads pads(engine, password, password_size);
    const std::size_t blocks = (out_size + digest_size - 1) / digest_size;
    State sums[sha1::max_lanes];
    unsigned char digest[digest_size];
    const std::size_t at_once = std::min(engine.lanes, sha1::max_lanes);
    for (std::size_t first = 0; first < blocks; first += at_once) {
        const std::size_t lanes = std::min(at_once, blocks - first);
        for (std::size_t l = 0; l < lanes; ++l) {
            unsigned char index[4];
            store_be32(index, static_cast<std::uint32_t>(first + l + 1));
            Hash inner(engine, pads.inner, block_size);
            inner.update(salt, salt_size);
            inner.update(index, sizeof index);
            store_digest(inner.finish(), digest);
            Hash outer(engine, pads.outer, block_size);
            outer.update(digest, digest_size);
            sums[l] = outer.finish();
        }
        engine.rounds(pads.inner, pads.outer, sums, lanes, iterations - 1);
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

bool pbkdf2_sha1_lanes(const unsigned char* password, std::size_t password_size,
                       const unsigned char* salt, std::size_t salt_size, unsigned int iterations,
                       unsigned char* out, std::size_t out_size) {
    return pbkdf2_sha1_over(lanes_engine, password, password_size, salt, salt_size, iterations, out,
                            out_size);
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
