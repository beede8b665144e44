// The lanes keep SHA-1's state as the round instructions want it: A..D in
// one vector (A in the top word), E in the top word of another, message
// words four to a vector (the first on top). A digest in that form is
// already the first message vector of the next block, which is what lets a
// PBKDF2 round stay in registers. Only these functions are compiled for the
// SHA extensions; the rest of the build keeps its flags, and nothing here
// runs unless lanes_usable() said so.
#include "archive/cipher/sha1_lanes.h"

#include <cpuid.h>
#include <immintrin.h>

#define KORVANE_SHA_TARGET __attribute__((target("sha,sse4.1")))
#define KORVANE_SHA_INLINE __attribute__((target("sha,sse4.1"), always_inline)) inline
// Every lane loop unrolled, at any optimisation level that unrolls at all:
// only then do the lanes' vectors live in registers and interleave.
#define FOR_EACH_LANE(l) _Pragma("GCC unroll 4") for (std::size_t l = 0; l < N; ++l)

namespace korvane::sha1 {

namespace {

template <std::size_t N>
using Vectors = __m128i[N];
template <std::size_t N>
using Messages = __m128i[N][4];

// Four rounds of every lane, then the groups after them (20 groups in all).
// Group G's message words come from the schedule
//   M[G] = msg2(msg1(M[G-4], M[G-3]) ^ M[G-2], M[G-1]),
// kept in a ring of four vectors per lane.
template <std::size_t G, std::size_t N>
KORVANE_SHA_INLINE void rounds(Vectors<N>& abcd, const Vectors<N>& e, Vectors<N>& last,
                               Messages<N>& m) {
    FOR_EACH_LANE(l) {
        if constexpr (G >= 4) {
            const __m128i early = _mm_sha1msg1_epu32(m[l][G % 4], m[l][(G + 1) % 4]);
            const __m128i mixed = _mm_xor_si128(early, m[l][(G + 2) % 4]);
            m[l][G % 4] = _mm_sha1msg2_epu32(mixed, m[l][(G + 3) % 4]);
        }
        __m128i e_now;
        if constexpr (G == 0) {
            e_now = _mm_add_epi32(e[l], m[l][0]);
        } else {
            // The E of these rounds is A of four rounds back, rotated.
            e_now = _mm_sha1nexte_epu32(last[l], m[l][G % 4]);
        }
        last[l] = abcd[l];
        abcd[l] = _mm_sha1rnds4_epu32(abcd[l], e_now, G / 5);
    }
    if constexpr (G < 19) rounds<G + 1, N>(abcd, e, last, m);
}

// One compression per lane: (abcd, e) in, the new state out; m is consumed.
template <std::size_t N>
KORVANE_SHA_INLINE void compress_lanes(Vectors<N>& abcd, Vectors<N>& e, Messages<N>& m) {
    Vectors<N> start, last;
    FOR_EACH_LANE(l) start[l] = abcd[l];
    rounds<0, N>(abcd, e, last, m);
    FOR_EACH_LANE(l) {
        e[l] = _mm_sha1nexte_epu32(last[l], e[l]);
        abcd[l] = _mm_add_epi32(abcd[l], start[l]);
    }
}

KORVANE_SHA_INLINE __m128i load_abcd(const State& s) {
    return _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s.h)), 0x1B);
}
KORVANE_SHA_INLINE __m128i load_e(const State& s) {
    return _mm_set_epi32(static_cast<int>(s.h[4]), 0, 0, 0);
}
KORVANE_SHA_INLINE void store(State& s, __m128i abcd, __m128i e) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(s.h), _mm_shuffle_epi32(abcd, 0x1B));
    s.h[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e, 3));
}

template <std::size_t N>
KORVANE_SHA_TARGET void compress_blocks(State* states, const unsigned char* const* blocks) {
    // Big-endian words, the first on top: all 16 bytes reversed.
    const __m128i reverse = _mm_set_epi64x(0x0001020304050607, 0x08090A0B0C0D0E0F);
    Vectors<N> abcd, e;
    Messages<N> m;
    FOR_EACH_LANE(l) {
        abcd[l] = load_abcd(states[l]);
        e[l] = load_e(states[l]);
#pragma GCC unroll 4
        for (std::size_t k = 0; k < 4; ++k)
            m[l][k] = _mm_shuffle_epi8(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks[l] + 16 * k)), reverse);
    }
    compress_lanes<N>(abcd, e, m);
    FOR_EACH_LANE(l) store(states[l], abcd[l], e[l]);
}

// One HMAC half in every lane: the digest in (abcd, e), a 20-byte message
// after a 64-byte pad, compressed from the pad's state; the new digest
// replaces it. Message words 0-4 are the digest, word 5 SHA-1's end bit
// (E's lower words are zero, so it is simply or-ed in), word 15 the length
// in bits, 84 * 8.
template <std::size_t N>
KORVANE_SHA_INLINE void hmac_half(Vectors<N>& abcd, Vectors<N>& e, __m128i pad_abcd,
                                  __m128i pad_e) {
    const __m128i end_bit = _mm_set_epi32(0, static_cast<int>(0x80000000), 0, 0);
    const __m128i length = _mm_set_epi32(0, 0, 0, (block_size + digest_size) * 8);
    Messages<N> m;
    FOR_EACH_LANE(l) {
        m[l][0] = abcd[l];
        m[l][1] = _mm_or_si128(e[l], end_bit);
        m[l][2] = _mm_setzero_si128();
        m[l][3] = length;
        abcd[l] = pad_abcd;
        e[l] = pad_e;
    }
    compress_lanes<N>(abcd, e, m);
}

template <std::size_t N>
KORVANE_SHA_TARGET void pbkdf2_lanes(const State& inner, const State& outer, State* sums,
                                     unsigned int count) {
    const __m128i inner_abcd = load_abcd(inner), inner_e = load_e(inner);
    const __m128i outer_abcd = load_abcd(outer), outer_e = load_e(outer);
    Vectors<N> abcd, e, sum_abcd, sum_e;
    FOR_EACH_LANE(l) {
        sum_abcd[l] = abcd[l] = load_abcd(sums[l]);
        sum_e[l] = e[l] = load_e(sums[l]);
    }
    for (unsigned int i = 0; i < count; ++i) {
        hmac_half<N>(abcd, e, inner_abcd, inner_e);
        hmac_half<N>(abcd, e, outer_abcd, outer_e);
        FOR_EACH_LANE(l) {
            sum_abcd[l] = _mm_xor_si128(sum_abcd[l], abcd[l]);
            sum_e[l] = _mm_xor_si128(sum_e[l], e[l]);
        }
    }
    FOR_EACH_LANE(l) store(sums[l], sum_abcd[l], sum_e[l]);
}

}  // namespace

bool lanes_usable() {
    static const bool usable = [] {
        unsigned int a = 0, b = 0, c = 0, d = 0;
        if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
        const bool sse = (c & bit_SSSE3) != 0 && (c & bit_SSE4_1) != 0;
        // Leaf 7, sub-leaf 0: EBX bit 29 is the SHA extensions.
        if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
        return sse && (b & bit_SHA) != 0;
    }();
    return usable;
}

void compress(State* states, const unsigned char* const* blocks, std::size_t lanes) {
    switch (lanes) {
        case 1:
            return compress_blocks<1>(states, blocks);
        case 2:
            return compress_blocks<2>(states, blocks);
        case 3:
            return compress_blocks<3>(states, blocks);
        case 4:
            return compress_blocks<4>(states, blocks);
    }
}

void pbkdf2_rounds(const State& inner, const State& outer, State* sums, std::size_t lanes,
                   unsigned int rounds) {
    switch (lanes) {
        case 1:
            return pbkdf2_lanes<1>(inner, outer, sums, rounds);
        case 2:
            return pbkdf2_lanes<2>(inner, outer, sums, rounds);
        case 3:
            return pbkdf2_lanes<3>(inner, outer, sums, rounds);
        case 4:
            return pbkdf2_lanes<4>(inner, outer, sums, rounds);
    }
}

}  // namespace korvane::sha1
