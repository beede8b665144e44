#include "archive/chunk_encoder.h"

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

ResultCode deflate_chunk(const CryptJob& job, const ChunkWork& work, ChunkScratch& s,
                         GiveUp give_up, std::vector<unsigned char>& deflated) {
    if (!s.deflater.start(job.level)) return result_compression_error;
    FilePtr source(platform::open_file(work.path.c_str(), "rb"));
    if (!source) return open_failure(work.path);
    if (!s.in) s.in = std::make_unique_for_overwrite<unsigned char[]>(block_size);
    if (!s.out) s.out = std::make_unique_for_overwrite<unsigned char[]>(block_size);
    unsigned char* const in = s.in.get();
    unsigned char* const out = s.out.get();
    z_stream& z = s.deflater.stream();

    const bool last = work.chunk + 1 == work.chunks;
    const std::uint64_t offset = work.chunk * deflate_chunk_size;
    if (work.chunk > 0) {
        // The end of the chunk before: matches may reach back into it.
        std::vector<unsigned char> dictionary(deflate_dictionary_size);
        if (!platform::seek_to(source.get(),
                               static_cast<std::int64_t>(offset - deflate_dictionary_size)) ||
            !read_exact(source.get(), dictionary.data(), dictionary.size()))
            return result_read_failed;
        if (deflateSetDictionary(&z, dictionary.data(), static_cast<uInt>(dictionary.size())) !=
            Z_OK)
            return result_compression_error;
    }
    // The last chunk holds the rest of the size the walk found, however the
    // file has grown since.
    if (offset > work.size) return result_read_failed;
    std::uint64_t left = last ? work.size - offset : deflate_chunk_size;
    bool input_over = false;
    deflated.reserve(last ? block_size : deflate_chunk_size / 2);
    z.avail_in = 0;
    while (true) {
        if (!input_over && z.avail_in == 0) {
            const auto got = static_cast<std::size_t>(std::min<std::uint64_t>(left, block_size));
            // A file shorter now than the walk found cannot give its entry.
            if (!read_exact(source.get(), in, got)) return result_read_failed;
            left -= got;
            input_over = left == 0;
            // Past the end a read tells only whether the file can be read
            // there (a file whose size says 0 while reading gives more).
            if (input_over && last) {
                unsigned char probe;
                if (std::fread(&probe, 1, 1, source.get()) == 0 && std::ferror(source.get()))
                    return result_read_failed;
            }
            z.next_in = in;
            z.avail_in = static_cast<uInt>(got);
            job.processed.fetch_add(static_cast<std::uint64_t>(got), std::memory_order_relaxed);
        }
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
