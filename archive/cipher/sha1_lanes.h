// SHA-1 compression in up to four independent lanes at once, over the CPU's
// SHA extensions. A round instruction takes several cycles before its result
// can feed the next one, so lanes interleaved in one loop finish in little
// more than the time of one; the output blocks of one PBKDF2 derivation are
// such independent chains. No library offers a multi-lane compression; the
// tests hold these against the libraries' SHA-1 and PBKDF2.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvane::sha1 {

inline constexpr std::size_t block_size = 64;
inline constexpr std::size_t digest_size = 20;
inline constexpr std::size_t max_lanes = 4;

// The chaining value h0..h4; after the last block, the digest's words.
struct State {
    std::uint32_t h[5];
};
inline constexpr State initial_state = {
    {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0}};

// True when this CPU has the SHA extensions and SSE4.1, checked once. The
// functions below may be called only then.
bool lanes_usable();

// Compresses blocks[l] (64 bytes) into states[l] for each l < lanes (1..4).
void compress(State* states, const unsigned char* const* blocks, std::size_t lanes);

// PBKDF2's rounds after the first for `lanes` output blocks (1..4), given
// HMAC's pad states: each sums[l] comes in holding U1 of its block and leaves
// holding U1 ^ U2 ^ ... ^ U(1 + rounds). Each round is two compressions per
// lane of a digest padded to one block, all in registers.
void pbkdf2_rounds(const State& inner, const State& outer, State* sums, std::size_t lanes,
                   unsigned int rounds);

}  // namespace korvane::sha1
