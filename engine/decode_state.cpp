#include "engine/decode_state.h"

#include <zlib.h>

#include "archive/cipher/aes_enc.h"
#include "engine/task_pool.h"

namespace korvane {

bool given_up(const DecodeState& s) {
    return s.failures && s.failures->given_up(s.entry);
}

bool DecodeState::stopping() const {
    return cancel->load(std::memory_order_relaxed) || given_up(*this);
}

ResultCode DecodeState::read_block(CAesEnc& aes, unsigned char* block, unsigned int length) {
    if (!read_exact(archive.get(), block, length)) return result_read_failed;
    aes.decrypt(block, length);
    processed->fetch_add(length, std::memory_order_relaxed);
    return result_ok;
}

ResultCode DecodeState::write_block(std::FILE* output, std::uint32_t* crc,
                                    const unsigned char* block, unsigned int length) {
    if (crc) *crc = static_cast<std::uint32_t>(::crc32(*crc, block, length));
    return !output || write_exact(output, block, length) ? result_ok : result_write_failed;
}

}  // namespace korvane
