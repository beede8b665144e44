#include "engine/chunk_encoder.h"

#include <algorithm>

#include "archive/deflate_gain.h"
#include "archive/format.h"
#include "archive/stdio_file.h"
#include "platform/platform.h"

namespace korvane {

std::uint32_t chunk_count(std::uint64_t size) {
    return size == 0
               ? 1
               : static_cast<std::uint32_t>((size + deflate_chunk_size - 1) / deflate_chunk_size);
}

namespace {

ResultCode open_failure(const std::string& path) {
    platform::FindData found;
    return platform::find_path(path.c_str(), found) ? result_read_failed : result_input_missing;
}

// Reads the chunk's bytes into s.chunk, counting each block into
// job.processed and testing cancel after it. The last chunk holds the rest of
// the size the walk found, however the file has grown since.
ResultCode read_chunk(const CryptJob& job, const ChunkWork& work, std::FILE* source,
                      ChunkScratch& s, GiveUp give_up, std::size_t& length) {
    const bool last = work.chunk + 1 == work.chunks;
    const std::uint64_t offset = work.chunk * deflate_chunk_size;
    if (offset > work.size) return result_read_failed;
    if (offset > 0 && !platform::seek_to(source, static_cast<std::int64_t>(offset)))
        return result_read_failed;
    length = static_cast<std::size_t>(last ? work.size - offset : deflate_chunk_size);
    if (!s.chunk) s.chunk = std::make_unique_for_overwrite<unsigned char[]>(deflate_chunk_size);
    for (std::size_t done = 0; done < length;) {
        const std::size_t got = std::min(length - done, block_size);
        // A file shorter now than the walk found cannot give its entry.
        if (!read_exact(source, s.chunk.get() + done, got)) return result_read_failed;
        done += got;
        job.processed.fetch_add(got, std::memory_order_relaxed);
        if (job.cancel.load(std::memory_order_relaxed) || give_up()) return result_cancelled;
    }
    // Past the end a read tells only whether the file can be read there (a
    // file whose size says 0 while reading gives more).
    if (last) {
        unsigned char probe;
        if (std::fread(&probe, 1, 1, source) == 0 && std::ferror(source)) return result_read_failed;
    }
    return result_ok;
}

// Writes the chunk as stored deflate blocks: byte-aligned like a sync flush,
// the last one final when the chunk ends the stream.
void store_chunk(const unsigned char* data, std::size_t length, bool last,
                 std::vector<unsigned char>& out) {
    constexpr std::size_t most = 65535;
    out.reserve(length + (length / most + 1) * 5);
    std::size_t done = 0;
    do {
        const auto piece = static_cast<std::uint16_t>(std::min(length - done, most));
        const bool final_block = last && done + piece == length;
        const unsigned char header[5] = {
            static_cast<unsigned char>(final_block ? 1 : 0), static_cast<unsigned char>(piece),
            static_cast<unsigned char>(piece >> 8), static_cast<unsigned char>(~piece),
            static_cast<unsigned char>(~piece >> 8)};
        out.insert(out.end(), header, header + 5);
        out.insert(out.end(), data + done, data + done + piece);
        done += piece;
    } while (done < length);
}

ResultCode deflate_chunk(const CryptJob& job, const ChunkWork& work, ChunkScratch& s,
                         GiveUp give_up, std::vector<unsigned char>& deflated) {
    FilePtr source(platform::open_file(work.path.c_str(), "rb"));
    if (!source) return open_failure(work.path);
    std::size_t length = 0;
    if (const ResultCode r = read_chunk(job, work, source.get(), s, give_up, length)) return r;
    const bool last = work.chunk + 1 == work.chunks;
    const unsigned char* const chunk = s.chunk.get();
    // Level 0 keeps zlib's own stored stream; at the other levels a chunk
    // that deflate cannot shrink is stored without trying.
    if (job.level > 0 && !deflate_can_gain(chunk, length, job.level)) {
        store_chunk(chunk, length, last, deflated);
        return result_ok;
    }

    if (!s.deflater.start(job.level)) return result_compression_error;
    if (!s.out) s.out = std::make_unique_for_overwrite<unsigned char[]>(block_size);
    unsigned char* const out = s.out.get();
    z_stream& z = s.deflater.stream();
    if (work.chunk > 0) {
        // The end of the chunk before: matches may reach back into it.
        std::vector<unsigned char> dictionary(deflate_dictionary_size);
        const std::uint64_t offset = work.chunk * deflate_chunk_size;
        if (!platform::seek_to(source.get(),
                               static_cast<std::int64_t>(offset - deflate_dictionary_size)) ||
            !read_exact(source.get(), dictionary.data(), dictionary.size()))
            return result_read_failed;
        if (deflateSetDictionary(&z, dictionary.data(), static_cast<uInt>(dictionary.size())) !=
            Z_OK)
            return result_compression_error;
    }
    deflated.reserve(last ? block_size : deflate_chunk_size / 2);
    std::size_t fed = 0;
    z.avail_in = 0;
    while (true) {
        if (z.avail_in == 0 && fed < length) {
            const std::size_t piece = std::min(length - fed, block_size);
            z.next_in = const_cast<unsigned char*>(chunk + fed);
            z.avail_in = static_cast<uInt>(piece);
            fed += piece;
        }
        const bool input_over = fed == length;
        const int flush = !input_over ? Z_NO_FLUSH : last ? Z_FINISH : Z_SYNC_FLUSH;
        z.next_out = out;
        z.avail_out = block_size;
        const int status = deflate(&z, flush);
        if (status != Z_OK && status != Z_STREAM_END) return result_compression_error;
        const unsigned int produced = block_size - z.avail_out;
        deflated.insert(deflated.end(), out, out + produced);
        // After every block, the last one too: a job of small files is
        // cancelled like one of large ones.
        if (job.cancel.load(std::memory_order_relaxed) || give_up()) return result_cancelled;
        // A flush is over once it leaves room in the output block.
        if (status == Z_STREAM_END || (flush == Z_SYNC_FLUSH && z.avail_out != 0)) return result_ok;
    }
}

}  // namespace

void encode_chunk(const CryptJob& job, const ChunkWork& work, ChunkScratch& scratch, GiveUp give_up,
                  ChunkResult& out) {
    out.deflated.clear();
    out.aes.reset();
    // Given up on by the job: a failure before it ends the archive.
    if (give_up()) {
        out.result = result_cancelled;
        return;
    }
    if (work.chunk == 0) {
        out.aes = std::make_unique<CAesEnc>();
        const auto* pw = reinterpret_cast<const unsigned char*>(job.password.c_str());
        out.aes->encrypt_start(pw, out.salt, out.verifier, job.strength);
        if (!out.aes->ok()) {
            out.result = result_compression_error;
            return;
        }
    }
    out.result = deflate_chunk(job, work, scratch, give_up, out.deflated);
}

}  // namespace korvane
