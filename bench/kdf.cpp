// The key derivation alone, in every build: milliseconds per PBKDF2-HMAC-SHA1
// derivation (1000 iterations, an 8-byte salt) for each AES key length, ours
// (the SHA-1 lanes where the CPU has the SHA extensions) and the library's
// path (natively ours over nettle's compression, one block after another;
// libgcrypt's PBKDF2 in the Windows builds), and the SHA-NI floor: one
// compression's cost, as low as the lanes get it, times the compressions a
// derivation needs. Each figure is the best of several batches, which is
// what a busy machine lets through.
//
//   korvane-kdf
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "archive/cipher/key_derivation.h"
#include "archive/cipher/sha1_lanes.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr unsigned int iterations = 1000;
constexpr int batches = 30;
constexpr double batch_seconds = 0.01;

// Seconds per call of `work`: the best batch, each batch repeating the work
// for about batch_seconds.
template <typename F>
double seconds_per_call(F work) {
    double best = 1e9;
    for (int b = 0; b < batches; ++b) {
        long calls = 0;
        const auto start = Clock::now();
        double elapsed = 0;
        do {
            work();
            ++calls;
            elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        } while (elapsed < batch_seconds);
        best = std::min(best, elapsed / calls);
    }
    return best;
}

bool failed = false;

double derivation_ms(decltype(&korvane::pbkdf2_sha1) derive, std::size_t key_size) {
    const unsigned char password[] = "bench-password-0123", salt[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    unsigned char key[66];
    return 1000 * seconds_per_call([&] {
               if (!derive(password, sizeof password - 1, salt, sizeof salt, iterations, key,
                           key_size))
                   failed = true;
           });
}

// One compression's cost in `lanes` lanes, per compression.
double compression_ns(std::size_t lanes) {
    const korvane::sha1::State inner = korvane::sha1::initial_state, outer = {{1, 2, 3, 4, 5}};
    korvane::sha1::State sums[korvane::sha1::max_lanes] = {};
    constexpr unsigned int rounds = 1000;
    const double s =
        seconds_per_call([&] { korvane::sha1::pbkdf2_rounds(inner, outer, sums, lanes, rounds); });
    return 1e9 * s / (2.0 * rounds * lanes);
}

}  // namespace

int main() {
    double best_ns = 0;
    if (korvane::sha1::lanes_usable()) {
        std::printf("sha1 compression ns:");
        for (std::size_t lanes = 1; lanes <= korvane::sha1::max_lanes; ++lanes) {
            const double ns = compression_ns(lanes);
            std::printf(" %zu lane%s %.1f", lanes, lanes == 1 ? "" : "s", ns);
            best_ns = lanes == 1 ? ns : std::min(best_ns, ns);
        }
        std::printf("\n");
    } else {
        std::printf("sha1 compression: no SHA extensions on this CPU, no floor\n");
    }
    std::printf("%-8s %6s %10s %11s %9s %10s\n", "key", "bytes", "ours_ms", "library_ms",
                "floor_ms", "ours/floor");
    const struct {
        const char* name;
        std::size_t bytes;
    } keys[] = {{"AES-128", 34}, {"AES-192", 50}, {"AES-256", 66}};
    for (const auto& k : keys) {
        const double ours = derivation_ms(korvane::pbkdf2_sha1, k.bytes);
        const double library = derivation_ms(korvane::pbkdf2_sha1_library, k.bytes);
        // The pads, then per output block U1 (two compressions) and two per
        // further round.
        const std::size_t blocks = (k.bytes + 19) / 20;
        const double compressions = 2 + blocks * 2.0 * iterations;
        const double floor = best_ns * compressions / 1e6;
        std::printf("%-8s %6zu %10.4f %11.4f %9.4f %10.2f\n", k.name, k.bytes, ours, library, floor,
                    floor > 0 ? ours / floor : 0.0);
    }
    if (failed) {
        std::fprintf(stderr, "korvane-kdf: a derivation failed\n");
        return 1;
    }
    return 0;
}
