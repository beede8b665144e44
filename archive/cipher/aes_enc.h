// AES encryption of one archive entry in the AE-2 layout: PBKDF2-HMAC-SHA1
// key derivation from the password and a per-entry salt, AES in counter mode
// with a little-endian counter, HMAC-SHA1 over the encrypted bytes.
#pragma once

#include <cstddef>
#include <memory>

namespace korvane {

inline constexpr unsigned int verifier_length = 2;
inline constexpr unsigned int auth_code_length = 10;

// Key strength from the password's byte length: 1 (AES-128) below 32 bytes,
// 2 (AES-192) up to 47, 3 (AES-256) from 48.
int key_strength(std::size_t password_length);
// Salt bytes for a strength: 8, 12 or 16.
unsigned int salt_length(int strength);

// Initialises libgcrypt once, thread-safely. Returns false if the library is
// unusable. Every CAesEnc calls it; calling it early is harmless.
bool init_crypto();

// One object per entry: construct, one start call, block calls in stream
// order, the end call only when everything before it succeeded.
class CAesEnc {
public:
    CAesEnc();
    ~CAesEnc();
    CAesEnc(const CAesEnc&) = delete;
    CAesEnc& operator=(const CAesEnc&) = delete;

    // Fills salt (salt_length bytes for the strength) and the 2-byte
    // verifier. strength 0 takes key_strength of the password's length, as
    // our own archives do; 1..3 forces AES-128, -192 or -256, as the AE extra
    // field of other tools' entries may; any other value fails (ok() false).
    void encrypt_start(const unsigned char* password, unsigned char* salt, unsigned char* verifier,
                       int strength = 0);
    void encrypt(unsigned char* const data, unsigned int length);
    void encrypt_end(unsigned char* code);

    // 0 when the password matches the stored verifier. strength as for
    // encrypt_start: 0 chooses from the password's length, 1..3 is the
    // entry's own (salt then holds salt_length(strength) bytes); any other
    // value fails with ok() false.
    int decrypt_start(const unsigned char* password, const unsigned char* salt,
                      const unsigned char* verifier, int strength = 0);
    void decrypt(unsigned char* const data, unsigned int length);
    // 0 when the 10 bytes match the code of the data seen since the start.
    int decrypt_end(const unsigned char* code);

    // False after a failure inside the library (no random bytes, no cipher
    // handle); the caller then treats the entry as failed.
    bool ok() const { return ok_; }

private:
    struct State;
    std::unique_ptr<State> state_;
    bool ok_ = true;
};

}  // namespace korvane
