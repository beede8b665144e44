// An entry's data is compressed in chunks that separate threads can work on:
// each chunk is deflated on its own with the 32 KiB before it as the
// dictionary and ends on a byte boundary (a sync flush), the last one ends the
// stream, so the chunks laid end to end are one raw deflate stream. The
// cutting depends on the file's size alone, never on the number of threads,
// so every run makes the same stream.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/cipher/aes_enc.h"
#include "archive/result_code.h"
#include "archive/zstreams.h"
#include "engine/crypt_job.h"
#include "engine/task_pool.h"

namespace korvane {

inline constexpr std::uint64_t deflate_chunk_size = 256 * 1024;
inline constexpr std::size_t deflate_dictionary_size = 32768;

// Chunks of a file of this size: one for an empty file.
std::uint32_t chunk_count(std::uint64_t size);

// What one chunk task reads.
struct ChunkWork {
    std::string path;
    std::uint64_t size = 0;  // as the walk found it
    std::uint32_t chunk = 0, chunks = 1;
};

// What it gives back. The first chunk of an entry also starts its cipher
// (salt, verifier, keys), so the key derivation runs on the worker too; the
// encryption itself stays with the writer, in stream order.
struct ChunkResult {
    ResultCode result = result_ok;
    std::vector<unsigned char> deflated;
    std::unique_ptr<CAesEnc> aes;
    unsigned char salt[16] = {}, verifier[verifier_length] = {};
};

// Blocks and deflate state one thread reuses for every chunk.
struct ChunkScratch {
    Deflater deflater;
    std::unique_ptr<unsigned char[]> chunk, out;
};

// Deflates one chunk, or stores it as stored deflate blocks when deflate
// could not shrink it (deflate_can_gain). Reads exactly the chunk's bytes of a file of the size
// the walk found, so the entry holds what its header says and a file that
// grows meanwhile costs no memory: a last chunk stops at that size (what was
// appended since is not stored); a file that came out shorter, or a read
// error, gives 7. Counts the bytes read into job.processed; tests job.cancel
// and give_up after every block, the last one too (3).
// Allocation failure may throw std::bad_alloc.
void encode_chunk(const CryptJob& job, const ChunkWork& work, ChunkScratch& scratch, GiveUp give_up,
                  ChunkResult& out);

}  // namespace korvane
