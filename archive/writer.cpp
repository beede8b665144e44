#include "archive/writer.h"

#include <new>
#include <vector>

#include "archive/cipher/aes_enc.h"
#include "archive/format.h"
#include "archive/paths.h"
#include "archive/temp_file.h"
#include "platform/platform.h"

namespace korvane {

namespace {

constexpr std::uint64_t max_job_bytes = 1ull << 31;
constexpr std::uint64_t max_file_bytes = 1ull << 32;

bool allocate_blocks(EncodeScratch& s) {
    if (s.in && s.out) return true;
    s.in.reset(new (std::nothrow) unsigned char[block_size]);
    s.out.reset(new (std::nothrow) unsigned char[block_size]);
    return s.in && s.out;
}

}  // namespace

ResultCode encode_entry(const CryptJob& job, const char* source_path, std::FILE* archive,
                        EncodeScratch& scratch) {
    const auto* pw = reinterpret_cast<const unsigned char*>(job.password.c_str());
    CAesEnc aes;
    unsigned char salt[16], verifier[verifier_length];
    aes.encrypt_start(pw, salt, verifier, job.strength);
    if (!aes.ok()) return result_compression_error;
    if (!scratch.deflater.start(job.level)) return result_compression_error;

    FilePtr source(platform::open_file(source_path, "rb"));
    if (!source) return result_read_failed;

    const unsigned int salt_bytes = salt_length(job.strength);
    if (!write_exact(archive, salt, salt_bytes) ||
        !write_exact(archive, verifier, verifier_length))
        return result_write_failed;
    if (!allocate_blocks(scratch)) return result_out_of_memory;

    z_stream& z = scratch.deflater.stream();
    unsigned char* const out = scratch.out.get();
    z.next_out = out;
    z.avail_out = block_size;
    bool finishing = false;
    ResultCode result = result_ok;
    while (true) {
        if (!finishing && z.avail_in == 0) {
            const std::size_t got = std::fread(scratch.in.get(), 1, block_size, source.get());
            // A short read is the end of the file only when no error caused it.
            if (std::ferror(source.get())) {
                result = result_read_failed;
                break;
            }
            z.next_in = scratch.in.get();
            z.avail_in = static_cast<uInt>(got);
            job.processed.fetch_add(static_cast<std::uint32_t>(got), std::memory_order_relaxed);
            finishing = got < block_size;
        }
        const int status = deflate(&z, finishing ? Z_FINISH : Z_NO_FLUSH);
        if (status == Z_STREAM_END) {
            const unsigned int filled = block_size - z.avail_out;
            aes.encrypt(out, filled);
            if (!write_exact(archive, out, filled)) result = result_write_failed;
            break;
        }
        if (status != Z_OK) {
            result = result_compression_error;
            break;
        }
        if (z.avail_out == 0) {
            aes.encrypt(out, block_size);
            if (!write_exact(archive, out, block_size)) {
                result = result_write_failed;
                break;
            }
            z.next_out = out;
            z.avail_out = block_size;
        }
        if (job.cancel.load(std::memory_order_relaxed)) {
            result = result_cancelled;
            break;
        }
    }
    if (result != result_ok) return result;

    unsigned char code[auth_code_length];
    aes.encrypt_end(code);
    if (!aes.ok()) return result_compression_error;
    if (!write_exact(archive, code, auth_code_length)) return result_write_failed;
    return result_ok;
}

ArchiveWriter::~ArchiveWriter() { discard(); }

ResultCode ArchiveWriter::open(const char* path) {
    discard();
    try {
        output_path_ = path;
        directory_.reserve(block_size);
    } catch (const std::bad_alloc&) {
        return result_out_of_memory;
    }
    archive_ = create_temp_beside(output_path_, temp_path_);
    if (!archive_) return result_open_output_failed;
    directory_.clear();
    entries_ = 0;
    directory_offset_ = 0;
    finished_ = false;
    return result_ok;
}

ResultCode ArchiveWriter::add_file(const char* path, const char* stored_name, const CryptJob& job) {
    platform::FindData found;
    if (!platform::find_path(path, found) || found.is_folder) return result_input_missing;
    if (found.size >= max_file_bytes) return result_too_large;

    EntryInfo entry;
    std::string header;
    bool utf8_name = false;
    try {
        std::string name = stored_name;
        // Separators are turned while the name is UTF-8: in the code page's
        // form a trail byte can be 0x5C.
        to_archive_separators(name.data(), name.data(), name.size());
        platform::ArchiveName encoded = platform::archive_name_from_path(name);
        entry.name = std::move(encoded.bytes);
        utf8_name = encoded.utf8;
        header.reserve(local_header_size + entry.name.size() + ae_extra_size);
    } catch (const std::bad_alloc&) {
        return result_out_of_memory;
    }
    // The name-length and entry-count fields are 16 bits wide.
    if (entry.name.size() > max_name_length || entries_ == max_entries) return result_too_large;
    entry.flags =
        static_cast<std::uint16_t>(general_flags(job.level) | (utf8_name ? flag_utf8_name : 0));
    entry.time = found.last_write;
    entry.attributes = found.attributes;
    entry.uncompressed_size = static_cast<std::uint32_t>(found.size);
    entry.strength = job.strength;

    const std::int64_t start = platform::position_of(archive_.get());
    if (start < 0) return result_write_failed;
    // Room for the local header, filled in once the sizes are known.
    const std::size_t header_size = local_header_size + entry.name.size() + ae_extra_size;
    const std::vector<char> room(header_size, 0);
    if (!write_exact(archive_.get(), room.data(), room.size())) return result_write_failed;

    const ResultCode encoded = encode_entry(job, path, archive_.get(), scratch_);
    if (encoded != result_ok) return encoded;

    const std::int64_t end = platform::position_of(archive_.get());
    if (end < 0) return result_write_failed;
    // Offsets and sizes are 32-bit fields: refuse rather than wrap.
    if (end > 0xFFFFFFFFll) return result_too_large;
    entry.compressed_size = static_cast<std::uint32_t>(end - start - static_cast<std::int64_t>(header_size));
    entry.local_header_offset = static_cast<std::uint32_t>(start);

    append_local_header(header, entry);
    if (!platform::seek_to(archive_.get(), start) ||
        !write_exact(archive_.get(), header.data(), header.size()) ||
        !platform::seek_to(archive_.get(), end))
        return result_write_failed;

    try {
        append_central_record(directory_, entry);
    } catch (const std::bad_alloc&) {
        return result_out_of_memory;
    }
    ++entries_;
    directory_offset_ = static_cast<std::uint32_t>(end);
    return result_ok;
}

ResultCode ArchiveWriter::finish() {
    if (!archive_) return result_close_failed;
    bool ok = true;
    try {
        std::string tail;
        append_end_record(tail, entries_, static_cast<std::uint32_t>(directory_.size()),
                          directory_offset_);
        ok = write_exact(archive_.get(), directory_.data(), directory_.size()) &&
             write_exact(archive_.get(), tail.data(), tail.size()) &&
             std::fflush(archive_.get()) == 0;
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    ok = close_file(archive_) && ok;
    finished_ = ok;
    return ok ? result_ok : result_close_failed;
}

ResultCode ArchiveWriter::commit() {
    if (!finished_ || temp_path_.empty()) return result_open_output_failed;
    if (!platform::replace_file(temp_path_.c_str(), output_path_.c_str())) {
        discard();
        return result_open_output_failed;
    }
    temp_path_.clear();
    return result_ok;
}

void ArchiveWriter::discard() {
    archive_.reset();
    if (!temp_path_.empty()) platform::delete_file(temp_path_.c_str());
    temp_path_.clear();
    finished_ = false;
}

namespace {

// Visits every file the inputs name, in input order: a file by itself under
// its own name, a folder's files under the folder's name and their relative
// paths. Missing inputs are skipped. The output and its temporary file are
// never taken as inputs, whatever path reaches them: reading the growing
// temporary file into itself would never end. visit returns non-zero to stop.
template <typename Visit>
ResultCode for_each_input_file(const CryptJob& job, const std::string& temp_path, Visit visit) {
    FileSet own;
    own.add(job.output_path.c_str());  // fails harmlessly while no earlier output exists
    if (!temp_path.empty()) own.add(temp_path.c_str());
    auto is_output = [&](const std::string& p) { return own.contains(p.c_str()); };
    for (const std::string& input_path : job.inputs) {
        const char* input = input_path.c_str();
        platform::FindData found;
        if (!platform::find_path(input, found)) continue;
        if (!found.is_folder) {
            if (is_output(input)) continue;
            if (ResultCode r = visit(input, found.name, found)) return r;
            continue;
        }
        FolderWalker walker(input);
        while (const FolderWalker::Record* file = walker.next()) {
            if (is_output(file->full_path)) continue;
            // A root has no name of its own: its files go under their
            // relative paths.
            const std::string stored = found.name.empty()
                                           ? file->relative_path
                                           : found.name + platform::separator + file->relative_path;
            if (ResultCode r = visit(file->full_path.c_str(), stored, file->data)) return r;
        }
    }
    return result_ok;
}

}  // namespace

ResultCode encrypt_worker(CryptJob& job) {
    job.processed = 0;
    job.total = 0;
    try {
        std::uint64_t sum = 0;
        std::size_t files = 0;
        for_each_input_file(job, std::string(), [&](const char*, const std::string&,
                                                    const platform::FindData& f) {
            sum += f.size;
            ++files;
            return result_ok;
        });
        if (sum >= max_job_bytes || files > max_entries) return result_too_large;
        job.total = static_cast<std::uint32_t>(sum);

        ArchiveWriter writer;
        if (ResultCode r = writer.open(job.output_path.c_str())) return r;
        const ResultCode added = for_each_input_file(
            job, writer.temp_path(),
            [&](const char* path, const std::string& stored, const platform::FindData&) {
                return writer.add_file(path, stored.c_str(), job);
            });
        if (added != result_ok) return added;  // the writer discards the archive
        if (ResultCode r = writer.finish()) return r;
        return writer.commit();
    } catch (const std::bad_alloc&) {
        return result_out_of_memory;
    }
}

}  // namespace korvane
