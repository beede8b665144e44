#include "archive/cipher/aes_enc.h"
#include "archive/cipher/key_derivation.h"
#include "archive/cipher/sha1_lanes.h"

#include <gcrypt.h>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <nettle/pbkdf2.h>
#include <nettle/sha1.h>
#endif

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace korvane {
namespace {

using Bytes = std::vector<unsigned char>;
using Split = std::vector<unsigned int>;  // chunk sizes, repeated; empty: one call

Bytes from_hex(const std::string& hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

const unsigned char* pw(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.c_str());
}

Bytes pattern(std::size_t n) {
    Bytes out(n);
    std::uint32_t x = 0x12345678;
    for (auto& b : out) b = static_cast<unsigned char>((x = x * 1103515245u + 12345u) >> 24);
    return out;
}

template <typename F>
void in_chunks(Bytes& data, const Split& split, F step) {
    for (std::size_t pos = 0, i = 0; pos < data.size();) {
        std::size_t n = split.empty() ? data.size() : split[i++ % split.size()];
        n = std::min(n, data.size() - pos);
        step(data.data() + pos, static_cast<unsigned int>(n));
        pos += n;
    }
}

struct Sealed {
    unsigned char salt[16] = {}, verifier[2] = {};
    Bytes data, code = Bytes(10);
};

Sealed seal(const std::string& password, const Bytes& plain, const Split& split = {}) {
    Sealed s;
    s.data = plain;
    CAesEnc enc;
    enc.encrypt_start(pw(password), s.salt, s.verifier);
    in_chunks(s.data, split, [&](unsigned char* p, unsigned int n) { enc.encrypt(p, n); });
    enc.encrypt_end(s.code.data());
    EXPECT_TRUE(enc.ok());
    return s;
}

// decrypt_end's result, or -1 when the password is refused; data is decrypted in place.
int open(const std::string& password, Sealed& s, const Split& split = {}) {
    CAesEnc dec;
    if (dec.decrypt_start(pw(password), s.salt, s.verifier) != 0) return -1;
    in_chunks(s.data, split, [&](unsigned char* p, unsigned int n) { dec.decrypt(p, n); });
    return dec.decrypt_end(s.code.data());
}

// Computed once outside the program:
//   d = hashlib.pbkdf2_hmac('sha1', password, salt, 1000, 2*k+2)
//   aes_key, hmac_key, verifier = d[:k], d[k:2*k], d[2*k:]
//   keystream = openssl enc -aes-<8k>-ecb -nopad -K <aes_key> over the 16-byte
//               little-endian integers 1, 2, 3 (head) and 1024, 1025 (tail)
//   code = hmac.new(hmac_key, bytes(1025 * 16), hashlib.sha1).digest()[:10]
// Decrypting 1025 zero blocks yields the keystream itself, and the code covers
// those zero bytes as the ciphertext.
struct Vector {
    std::string password, salt, verifier, head, tail, code;
};

const Vector vectors[] = {
    {"correct horse battery", "0102030405060708", "5d22",
     "df24a4f64b638c91cbf25b2a9ecc7e14ff6fe77fc83a8dbfc6a2d0ae18cb3dfb"
     "cacf83544ca5d35a2419715c56b519e4",
     "44c93b20393c1139754667b16de28b36e88c5a708b53fbea2ed1a4b7f8ea4696", "4b9fff8e5651cfb2fe89"},
    {"the quick brown fox jumps over the dog!!", "202122232425262728292a2b", "0edf",
     "ec747e363170c7ce44359ead4d3ea7bb0dec08ab03b2296b99eaca7cb2f9d33e"
     "257dfaff1136f02447b2276c8e30326f",
     "c712cfda2aa81199d74c04602011be33cad90f7690e3a30652f9f763f2d7fadb", "50639e002aa37980d244"},
    {"Pack my box with five dozen liquor jugs, then seal it!", "f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff",
     "0a25",
     "0509fda64985fe2c20de358a735177cfd66a412b73694e98b43df751173558f8"
     "bcb2aa49f31d72259cc1dea1eb9018c6",
     "963697758ba22e41a36868729aa01f1d8e5bc4e283119a38b9250f312c37b3a8", "9ede02b656cb387bbc1f"},
};

TEST(AesEnc, KnownKeysKeystreamAndCode) {
    for (const Vector& v : vectors) {
        SCOPED_TRACE(v.password);
        const Bytes salt = from_hex(v.salt), verifier = from_hex(v.verifier);
        ASSERT_EQ(salt.size(), salt_length(key_strength(v.password.size())));
        CAesEnc c;
        ASSERT_EQ(c.decrypt_start(pw(v.password), salt.data(), verifier.data()), 0);
        Bytes data(1025 * 16, 0);
        c.decrypt(data.data(), static_cast<unsigned int>(data.size()));
        EXPECT_EQ(Bytes(data.begin(), data.begin() + 48), from_hex(v.head));
        EXPECT_EQ(Bytes(data.end() - 32, data.end()), from_hex(v.tail));
        EXPECT_EQ(c.decrypt_end(from_hex(v.code).data()), 0);
        EXPECT_TRUE(c.ok());
    }
}

struct DerivePath {
    const char* name;
    decltype(&pbkdf2_sha1) derive;
};

// Every path a derivation can take: the one chosen for this CPU, the
// library's (run here even where the CPU has the SHA extensions, so the
// fallback is never left untested) and the lanes where the CPU has them.
std::vector<DerivePath> derive_paths() {
    std::vector<DerivePath> paths = {{"chosen", pbkdf2_sha1}, {"library", pbkdf2_sha1_library}};
    if (sha1::lanes_usable()) paths.push_back({"lanes", pbkdf2_sha1_lanes});
    return paths;
}

// RFC 6070 (all but its 16,777,216-iteration case), and keys of 64 and 65
// bytes from Python's hashlib.pbkdf2_hmac: a longer key is hashed first.
TEST(AesEnc, KeyDerivationVectors) {
    const struct {
        std::string password, salt;
        unsigned int iterations;
        std::string derived;
    } cases[] = {
        {"password", "salt", 1, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
        {"password", "salt", 2, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
        {"password", "salt", 4096, "4b007901b765489abead49d926f721d065a429c1"},
        {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096,
         "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
        {std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096,
         "56fa6aa75548099dcc37d7f03425e0c3"},
        {std::string(64, 'p'), "salt", 2, "1a33765a7013c43406b2735f118af00ae6d23b00"},
        {std::string(65, 'p'), "salt", 2, "071de0b787c6f0e319d7546faa7e0207eff57ff6"},
    };
    for (const DerivePath& path : derive_paths()) {
        for (const auto& c : cases) {
            SCOPED_TRACE(::testing::Message()
                         << path.name << " " << c.password.size() << " " << c.iterations);
            const Bytes want = from_hex(c.derived);
            Bytes got(want.size(), 0xA5);
            ASSERT_TRUE(path.derive(pw(c.password), c.password.size(), pw(c.salt), c.salt.size(),
                                    c.iterations, got.data(), got.size()));
            EXPECT_EQ(got, want);
        }
        unsigned char out[20];
        EXPECT_FALSE(path.derive(pw("password"), 8, pw("salt"), 4, 0, out, sizeof out))
            << path.name;
    }
}

// The library's own PBKDF2, which the product does not call natively (its
// path there is ours over nettle's compression).
Bytes library_pbkdf2(const unsigned char* password, std::size_t password_size,
                     const unsigned char* salt, std::size_t salt_size, unsigned int iterations,
                     std::size_t size) {
    Bytes out(size);
#ifdef _WIN32
    EXPECT_TRUE(init_crypto());
    EXPECT_EQ(gcry_kdf_derive(password, password_size, GCRY_KDF_PBKDF2, GCRY_MD_SHA1, salt,
                              salt_size, iterations, size, out.data()),
              0u);
#else
    nettle_pbkdf2_hmac_sha1(password_size, password, iterations, salt_size, salt, size, out.data());
#endif
    return out;
}

// Random passwords of 0 to 80 bytes (a key over 64 bytes is hashed first),
// random salts, the three key lengths and others up to six blocks (lanes in
// groups of four), every path against the library.
TEST(AesEnc, KeyDerivationPathsAgreeWithTheLibrary) {
    std::mt19937 random(6070);
    auto below = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    unsigned char password[80], salt[20];
    const std::size_t key_lengths[] = {34, 50, 66};
    for (int round = 0; round < 160; ++round) {
        // libgcrypt refuses an empty salt; every entry has one of 8 to 16 bytes.
        const std::size_t password_size = below(81), salt_size = 1 + below(20);
        for (auto& b : password) b = static_cast<unsigned char>(random());
        for (auto& b : salt) b = static_cast<unsigned char>(random());
        const std::size_t size = round % 8 == 7 ? 1 + below(120) : key_lengths[round % 3];
        const unsigned int iterations =
            round % 10 == 0 ? 1000 : 1 + static_cast<unsigned>(below(20));
        SCOPED_TRACE(::testing::Message()
                     << "round " << round << ": password " << password_size << ", salt "
                     << salt_size << ", size " << size << ", iterations " << iterations);
        const Bytes want =
            library_pbkdf2(password, password_size, salt, salt_size, iterations, size);
        for (const DerivePath& path : derive_paths()) {
            Bytes got(size + 1, 0xA5);
            ASSERT_TRUE(
                path.derive(password, password_size, salt, salt_size, iterations, got.data(), size))
                << path.name;
            EXPECT_EQ(got.back(), 0xA5) << path.name << " wrote past the end";
            got.pop_back();
            EXPECT_EQ(got, want) << path.name;
        }
    }
}

// SHA-1 padding: the end bit, zeros, the length in bits.
Bytes sha1_padded(Bytes message) {
    const std::uint64_t bits = message.size() * 8;
    message.push_back(0x80);
    while (message.size() % 64 != 56) message.push_back(0);
    for (int shift = 56; shift >= 0; shift -= 8)
        message.push_back(static_cast<unsigned char>(bits >> shift));
    return message;
}

Bytes digest_bytes(const sha1::State& s) {
    Bytes out;
    for (std::uint32_t word : s.h)
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<unsigned char>(word >> shift));
    return out;
}

// Each lane count, each lane a message of its own, hashed block by block as
// the library hashes it; natively also random states through nettle's
// compression itself.
TEST(AesEnc, Sha1LanesCompressAsTheLibrary) {
    if (!sha1::lanes_usable()) GTEST_SKIP() << "this CPU has no SHA extensions";
    std::mt19937 random(3174);
    for (int round = 0; round < 200; ++round) {
        const std::size_t lanes = 1 + round % 4, blocks = 1 + (round / 4) % 4;
        SCOPED_TRACE(::testing::Message() << lanes << " lanes, " << blocks << " blocks");
        Bytes messages[sha1::max_lanes], padded[sha1::max_lanes];
        sha1::State states[sha1::max_lanes];
        for (std::size_t l = 0; l < lanes; ++l) {
            // The lengths that pad to exactly `blocks` blocks.
            const std::size_t longest = 64 * blocks - 9, shortest = blocks == 1 ? 0 : longest - 63;
            messages[l].resize(shortest + random() % (longest - shortest + 1));
            for (auto& b : messages[l]) b = static_cast<unsigned char>(random());
            padded[l] = sha1_padded(messages[l]);
            ASSERT_EQ(padded[l].size(), 64 * blocks);
            states[l] = sha1::initial_state;
        }
        for (std::size_t b = 0; b < blocks; ++b) {
            const unsigned char* at[sha1::max_lanes];
            for (std::size_t l = 0; l < lanes; ++l) at[l] = padded[l].data() + 64 * b;
            sha1::compress(states, at, lanes);
        }
        for (std::size_t l = 0; l < lanes; ++l) {
            Bytes want(20);
            gcry_md_hash_buffer(GCRY_MD_SHA1, want.data(), messages[l].data(), messages[l].size());
            EXPECT_EQ(digest_bytes(states[l]), want) << "lane " << l << ", " << messages[l].size();
        }
#ifndef _WIN32
        unsigned char block[sha1::max_lanes][64];
        const unsigned char* at[sha1::max_lanes];
        std::uint32_t theirs[sha1::max_lanes][5];
        for (std::size_t l = 0; l < lanes; ++l) {
            for (auto& w : states[l].h) w = static_cast<std::uint32_t>(random());
            for (auto& b : block[l]) b = static_cast<unsigned char>(random());
            std::copy(std::begin(states[l].h), std::end(states[l].h), theirs[l]);
            nettle_sha1_compress(theirs[l], block[l]);
            at[l] = block[l];
        }
        sha1::compress(states, at, lanes);
        for (std::size_t l = 0; l < lanes; ++l)
            EXPECT_TRUE(std::equal(std::begin(states[l].h), std::end(states[l].h), theirs[l]))
                << "lane " << l << " from a random state";
#endif
    }
}

TEST(AesEnc, AnySplitGivesTheSameBytesAndCode) {
    const Split splits[] = {
        {16384}, {1}, {15}, {17}, {16383}, {16385}, {7, 16384, 3}, {0, 31}, {4000, 1, 1, 12383}};
    const Bytes plain = pattern(40000);
    for (const Split& split : splits) {
        SCOPED_TRACE(::testing::PrintToString(split));
        // Split on one side and one call on the other, in both directions.
        Sealed a = seal("split password", plain, split);
        EXPECT_NE(a.data, plain);
        EXPECT_EQ(open("split password", a), 0);
        EXPECT_EQ(a.data, plain);

        Sealed b = seal("split password", plain);
        EXPECT_EQ(open("split password", b, split), 0);
        EXPECT_EQ(b.data, plain);
    }
}

TEST(AesEnc, WrongPasswordOrVerifierFailsAtStart) {
    const Vector& v = vectors[0];
    const Bytes salt = from_hex(v.salt), good = from_hex(v.verifier);
    const struct {
        std::string password;
        Bytes verifier;
        int expected;
    } cases[] = {
        {v.password, good, 0},
        {"correct horse batterY", good, 1},
        {"correct horse battery ", good, 1},
        {"", good, 1},
        {v.password, {static_cast<unsigned char>(good[0] ^ 1), good[1]}, 1},
        {v.password, {good[0], static_cast<unsigned char>(good[1] ^ 0x80)}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("'" + c.password + "'");
        CAesEnc dec;
        EXPECT_EQ(dec.decrypt_start(pw(c.password), salt.data(), c.verifier.data()), c.expected);
        EXPECT_TRUE(dec.ok());
    }
}

TEST(AesEnc, TamperingFailsAtEnd) {
    const Bytes plain = pattern(1000);
    const Sealed sealed = seal("tamper test", plain);
    const struct {
        std::size_t data_byte, code_byte;  // flipped when in range
        int expected;
    } cases[] = {{SIZE_MAX, SIZE_MAX, 0}, {0, SIZE_MAX, 1}, {500, SIZE_MAX, 1},
                 {999, SIZE_MAX, 1},      {SIZE_MAX, 0, 1}, {SIZE_MAX, 9, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.data_byte << " " << c.code_byte);
        Sealed s = sealed;
        if (c.data_byte < s.data.size()) s.data[c.data_byte] ^= 0x01;
        if (c.code_byte < s.code.size()) s.code[c.code_byte] ^= 0x40;
        EXPECT_EQ(open("tamper test", s), c.expected);
        if (c.expected == 0) {
            EXPECT_EQ(s.data, plain);
        }
    }
}

TEST(AesEnc, StrengthAndSaltFromPasswordLength) {
    const struct {
        std::size_t length;
        int strength;
        unsigned int salt;
    } cases[] = {{0, 1, 8}, {31, 1, 8}, {32, 2, 12}, {47, 2, 12}, {48, 3, 16}, {300, 3, 16}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        EXPECT_EQ(key_strength(c.length), c.strength);
        EXPECT_EQ(salt_length(c.strength), c.salt);
        // encrypt_start writes exactly that many salt bytes, and they round-trip.
        const std::string password(c.length, 'p');
        unsigned char salt[24], verifier[2];
        std::fill(std::begin(salt), std::end(salt), 0xA5);
        CAesEnc enc;
        enc.encrypt_start(pw(password), salt, verifier);
        for (std::size_t i = c.salt; i < sizeof salt; ++i) EXPECT_EQ(salt[i], 0xA5) << i;
        Sealed s = seal(password, pattern(100));
        EXPECT_EQ(open(password, s), 0);
        EXPECT_EQ(s.data, pattern(100));
    }
    // A strength byte read from a damaged file must not size a salt.
    for (int bad : {0, 4, -1, 255}) EXPECT_EQ(salt_length(bad), 0u) << bad;
}

TEST(AesEnc, EachEntryGetsAFreshSalt) {
    const std::string password(48, 'x');  // 16-byte salts
    const Sealed a = seal(password, Bytes(64)), b = seal(password, Bytes(64));
    EXPECT_NE(Bytes(a.salt, a.salt + 16), Bytes(b.salt, b.salt + 16));
    EXPECT_NE(Bytes(a.salt, a.salt + 16), Bytes(16, 0));
    EXPECT_NE(a.data, b.data);
}

TEST(AesEnc, UseWithoutStartFailsCleanly) {
    unsigned char data[32] = {1, 2, 3}, code[10] = {};
    CAesEnc dec;
    dec.decrypt(data, sizeof data);
    EXPECT_FALSE(dec.ok());
    EXPECT_NE(dec.decrypt_end(code), 0);

    CAesEnc enc;
    enc.encrypt(data, sizeof data);
    EXPECT_FALSE(enc.ok());
    // Plaintext is never left in a buffer the caller takes for ciphertext.
    EXPECT_EQ(Bytes(data, data + 32), Bytes(32, 0));
}

}  // namespace
}  // namespace korvane
