#include "archive/cipher/aes_enc.h"

#include <gcrypt.h>

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <type_traits>

#include "archive/cipher/key_derivation.h"
#include "archive/cipher/wipe.h"
#include "platform/platform.h"

namespace korvane {

namespace {

constexpr unsigned int block_size = 16;
constexpr unsigned int pbkdf2_iterations = 1000;
constexpr unsigned int max_key_length = 32;
constexpr unsigned int hmac_sha1_length = 20;
// Counter blocks encrypted per library call: large enough that the call
// overhead vanishes next to the AES work, small enough to stay in L1/L2.
constexpr unsigned int keystream_bytes = 16384;

template <std::size_t N>
struct WipedBytes {
    std::array<unsigned char, N> bytes{};
    WipedBytes() = default;
    WipedBytes(const WipedBytes&) = delete;
    WipedBytes& operator=(const WipedBytes&) = delete;
    ~WipedBytes() { wipe(bytes.data(), bytes.size()); }
    unsigned char* data() { return bytes.data(); }
};

struct CipherClose {
    void operator()(gcry_cipher_hd_t h) const { gcry_cipher_close(h); }
};
struct MacClose {
    void operator()(gcry_mac_hd_t h) const { gcry_mac_close(h); }
};
using CipherHandle = std::unique_ptr<std::remove_pointer_t<gcry_cipher_hd_t>, CipherClose>;
using MacHandle = std::unique_ptr<std::remove_pointer_t<gcry_mac_hd_t>, MacClose>;

unsigned int key_length(int strength) {
    return 8 + 8 * static_cast<unsigned int>(strength);
}

int cipher_algo(int strength) {
    switch (strength) {
        case 1:
            return GCRY_CIPHER_AES128;
        case 2:
            return GCRY_CIPHER_AES192;
        default:
            return GCRY_CIPHER_AES256;
    }
}

void store_le64(unsigned char* p, std::uint64_t v) {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(p, &v, 8);
    } else {
        for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
    }
}

// Word-wise: a byte loop over two possibly aliasing pointers is not
// vectorised at -O2 and would cost more than the AES itself.
void xor_bytes(unsigned char* data, const unsigned char* key, std::size_t n) {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t d, k;
        std::memcpy(&d, data + i, 8);
        std::memcpy(&k, key + i, 8);
        d ^= k;
        std::memcpy(data + i, &d, 8);
    }
    for (; i < n; ++i) data[i] ^= key[i];
}

// Differences are OR-ed together so the time does not depend on where the
// first mismatch is.
bool equal_const_time(const unsigned char* a, const unsigned char* b, std::size_t n) {
    unsigned char diff = 0;
    for (std::size_t i = 0; i < n; ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

}  // namespace

int key_strength(std::size_t password_length) {
    if (password_length < 32) return 1;
    if (password_length < 48) return 2;
    return 3;
}

unsigned int salt_length(int strength) {
    // 0 for a strength byte we do not know, so a reader never sizes a salt from it.
    if (strength < 1 || strength > 3) return 0;
    return 4 + 4 * static_cast<unsigned int>(strength);
}

bool init_crypto() {
    static std::once_flag once;
    static bool usable = false;
    std::call_once(once, [] {
        if (!gcry_check_version(GCRYPT_VERSION)) return;
        // Key material lives in our own buffers, wiped on release; the secure
        // pool would only add "insecure memory" warnings where mlock is denied.
        if (gcry_control(GCRYCTL_DISABLE_SECMEM, 0)) return;
        if (gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0)) return;
        usable = true;
    });
    return usable;
}

struct CAesEnc::State {
    CipherHandle aes;
    MacHandle hmac;
    // The counter as a 128-bit little-endian integer, in two halves.
    std::uint64_t counter_lo = 1;
    std::uint64_t counter_hi = 0;
    // Keystream of the last batch; [used, filled) is still unspent. Only the
    // first `touched` bytes ever held keystream: a small entry neither clears
    // nor wipes the whole 16 KiB.
    std::array<unsigned char, keystream_bytes> keystream;
    unsigned int used = 0;
    unsigned int filled = 0;
    unsigned int touched = 0;

    State() = default;
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    ~State() { wipe(keystream.data(), touched); }

    // Derives both keys and the verifier; false on a library failure.
    bool start(const unsigned char* password, const unsigned char* salt, int strength,
               unsigned char* verifier) {
        const unsigned int klen = key_length(strength);
        WipedBytes<2 * max_key_length + verifier_length> derived;
        const std::size_t plen = std::strlen(reinterpret_cast<const char*>(password));
        if (!pbkdf2_sha1(password, plen, salt, salt_length(strength), pbkdf2_iterations,
                         derived.data(), 2 * klen + verifier_length))
            return false;

        gcry_cipher_hd_t c = nullptr;
        if (gcry_cipher_open(&c, cipher_algo(strength), GCRY_CIPHER_MODE_ECB, 0)) return false;
        aes.reset(c);
        if (gcry_cipher_setkey(c, derived.data(), klen)) return false;

        gcry_mac_hd_t m = nullptr;
        if (gcry_mac_open(&m, GCRY_MAC_HMAC_SHA1, 0, nullptr)) return false;
        hmac.reset(m);
        if (gcry_mac_setkey(m, derived.data() + klen, klen)) return false;

        std::memcpy(verifier, derived.data() + 2 * klen, verifier_length);
        return true;
    }

    // Encrypts enough counter blocks for `wanted` bytes (at most one batch).
    bool refill(std::size_t wanted) {
        std::size_t blocks = (wanted + block_size - 1) / block_size;
        if (blocks > keystream_bytes / block_size) blocks = keystream_bytes / block_size;
        unsigned char* p = keystream.data();
        for (std::size_t b = 0; b < blocks; ++b, p += block_size) {
            store_le64(p, counter_lo);
            store_le64(p + 8, counter_hi);
            if (++counter_lo == 0) ++counter_hi;
        }
        const std::size_t bytes = blocks * block_size;
        if (gcry_cipher_encrypt(aes.get(), keystream.data(), bytes, nullptr, 0)) return false;
        used = 0;
        filled = static_cast<unsigned int>(bytes);
        if (filled > touched) touched = filled;
        return true;
    }

    bool apply_keystream(unsigned char* data, std::size_t length) {
        while (length > 0) {
            if (used == filled && !refill(length)) return false;
            std::size_t n = filled - used;
            if (n > length) n = length;
            xor_bytes(data, keystream.data() + used, n);
            used += static_cast<unsigned int>(n);
            data += n;
            length -= n;
        }
        return true;
    }

    bool authenticate(const unsigned char* data, std::size_t length) {
        return gcry_mac_write(hmac.get(), data, length) == 0;
    }

    bool read_code(unsigned char* code) {
        WipedBytes<hmac_sha1_length> full;
        std::size_t len = hmac_sha1_length;
        if (gcry_mac_read(hmac.get(), full.data(), &len) || len != hmac_sha1_length) return false;
        std::memcpy(code, full.data(), auth_code_length);
        return true;
    }
};

CAesEnc::CAesEnc() {
    ok_ = init_crypto();
}

CAesEnc::~CAesEnc() = default;

namespace {

int chosen_strength(const unsigned char* password, int strength) {
    if (strength != 0) return strength;
    return key_strength(std::strlen(reinterpret_cast<const char*>(password)));
}

}  // namespace

void CAesEnc::encrypt_start(const unsigned char* password, unsigned char* salt,
                            unsigned char* verifier, int strength_choice) {
    state_.reset();
    const int strength = chosen_strength(password, strength_choice);
    const unsigned int slen = salt_length(strength);
    std::memset(salt, 0, slen);
    std::memset(verifier, 0, verifier_length);
    if (slen == 0) ok_ = false;
    if (!ok_) return;
    if (!platform::secure_random(salt, slen)) {
        ok_ = false;
        return;
    }
    auto st = std::make_unique<State>();
    if (!st->start(password, salt, strength, verifier)) {
        ok_ = false;
        return;
    }
    state_ = std::move(st);
}

void CAesEnc::encrypt(unsigned char* const data, unsigned int length) {
    if (ok_ && state_ && state_->apply_keystream(data, length) &&
        state_->authenticate(data, length))
        return;
    ok_ = false;
    // Never hand back plaintext in a buffer the caller believes is encrypted.
    wipe(data, length);
}

void CAesEnc::encrypt_end(unsigned char* code) {
    if (ok_ && state_ && state_->read_code(code)) return;
    ok_ = false;
    std::memset(code, 0, auth_code_length);
}

int CAesEnc::decrypt_start(const unsigned char* password, const unsigned char* salt,
                           const unsigned char* verifier, int strength_choice) {
    state_.reset();
    const int strength = chosen_strength(password, strength_choice);
    if (salt_length(strength) == 0) ok_ = false;
    if (!ok_) return 1;
    auto st = std::make_unique<State>();
    WipedBytes<verifier_length> expected;
    if (!st->start(password, salt, strength, expected.data())) {
        ok_ = false;
        return 1;
    }
    if (!equal_const_time(expected.data(), verifier, verifier_length)) return 1;
    state_ = std::move(st);
    return 0;
}

void CAesEnc::decrypt(unsigned char* const data, unsigned int length) {
    // The code covers the ciphertext, so it is fed before the bytes change.
    if (ok_ && state_ && state_->authenticate(data, length) &&
        state_->apply_keystream(data, length))
        return;
    ok_ = false;
}

int CAesEnc::decrypt_end(const unsigned char* code) {
    WipedBytes<auth_code_length> actual;
    if (!ok_ || !state_ || !state_->read_code(actual.data())) {
        ok_ = false;
        return 1;
    }
    return equal_const_time(actual.data(), code, auth_code_length) ? 0 : 1;
}

}  // namespace korvane
