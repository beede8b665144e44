// libgcrypt's PBKDF2, the Windows builds' path where the CPU lacks the SHA
// extensions.
#include <gcrypt.h>

#include "archive/cipher/aes_enc.h"
#include "archive/cipher/key_derivation.h"

namespace korvane {

bool pbkdf2_sha1_library(const unsigned char* password, std::size_t password_size,
                         const unsigned char* salt, std::size_t salt_size, unsigned int iterations,
                         unsigned char* out, std::size_t out_size) {
    return init_crypto() && gcry_kdf_derive(password, password_size, GCRY_KDF_PBKDF2, GCRY_MD_SHA1,
                                            salt, salt_size, iterations, out_size, out) == 0;
}

}  // namespace korvane
