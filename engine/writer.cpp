#include "engine/writer.h"

#include <algorithm>
#include <deque>
#include <new>
#include <unordered_map>
#include <vector>

#include "archive/cipher/aes_enc.h"
#include "archive/format.h"
#include "archive/name_merges.h"
#include "archive/paths.h"
#include "engine/task_pool.h"
#include "engine/temp_file.h"
#include "platform/platform.h"

namespace korvane {

ArchiveWriter::~ArchiveWriter() {
    discard();
}

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
    if (!identify_new_file(archive_, temp_path_, temp_identity_)) return result_open_output_failed;
    file_limit_ = platform::largest_file_size(temp_path_.c_str());
    directory_.clear();
    entries_ = 0;
    directory_offset_ = 0;
    position_ = 0;
    finished_ = false;
    return result_ok;
}

ResultCode ArchiveWriter::describe_entry(const char* stored_name, const platform::FindData& found,
                                         const CryptJob& job, EntryInfo& entry) {
    bool utf8_name = false;
    try {
        std::string name = stored_name;
        // Separators are turned while the name is UTF-8: in the code page's
        // form a trail byte can be 0x5C.
        to_archive_separators(name.data(), name.data(), name.size());
        // A folder's name ends in '/', as every reader takes folders.
        if (found.is_folder) name += '/';
        platform::ArchiveName encoded = platform::archive_name_from_path(name);
        entry.name = std::move(encoded.bytes);
        utf8_name = encoded.utf8;
    } catch (const std::bad_alloc&) {
        return result_out_of_memory;
    }
    // The name-length field is 16 bits wide.
    if (entry.name.size() > max_name_length) return result_too_large;
    entry.folder = found.is_folder;
    const std::uint16_t coding = entry.folder ? 0 : general_flags(job.level);
    entry.flags = static_cast<std::uint16_t>(coding | (utf8_name ? flag_utf8_name : 0));
    entry.time = found.last_write;
    entry.attributes = found.attributes;
    entry.uncompressed_size = entry.folder ? 0 : found.size;
    entry.zip64_local = !entry.folder && local_header_needs_zip64(found.size);
    entry.strength = job.strength;
    return result_ok;
}

ResultCode ArchiveWriter::add_file(const char* path, const char* stored_name, const CryptJob& job) {
    platform::FindData found;
    if (!platform::find_path(path, found) || found.is_folder) return result_input_missing;
    EntryInfo entry;
    if (ResultCode r = describe_entry(stored_name, found, job, entry)) return r;
    try {
        ChunkWork work{path, found.size, 0, chunk_count(found.size)};
        ChunkResult piece;
        for (; work.chunk < work.chunks; ++work.chunk) {
            encode_chunk(job, work, scratch_, GiveUp{}, piece);
            if (piece.result != result_ok) return piece.result;
            if (ResultCode r = add_chunk(entry, work.chunk, work.chunks, piece)) return r;
        }
    } catch (const std::bad_alloc&) {
        return result_out_of_memory;
    }
    return result_ok;
}

ResultCode ArchiveWriter::write(const void* data, std::size_t length) {
    // Known before the file system refuses: the job ends at once and says why.
    if (length > file_limit_ - std::min(position_, file_limit_)) return result_file_system_limit;
    if (!write_exact(archive_.get(), data, length)) return result_write_failed;
    position_ += length;
    return result_ok;
}

ResultCode ArchiveWriter::write_encrypted(std::vector<unsigned char>& bytes) {
    if (bytes.empty()) return result_ok;
    aes_->encrypt(bytes.data(), static_cast<unsigned int>(bytes.size()));
    if (!aes_->ok()) return result_compression_error;
    return write(bytes.data(), bytes.size());
}

ResultCode ArchiveWriter::add_chunk(const EntryInfo& entry, std::uint32_t chunk,
                                    std::uint32_t chunks, ChunkResult& piece) {
    if (!archive_) return result_write_failed;
    const std::size_t header_size = local_header_length(entry);
    const unsigned int salt_bytes = salt_length(entry.strength);
    const bool last = chunk + 1 == chunks;
    if (chunk == 0) {
        if (!piece.aes) return result_compression_error;
        aes_ = std::move(piece.aes);
        entry_start_ = position_;
        std::string header;
        if (last) {
            // The only chunk: every size is known, the header goes out as is.
            EntryInfo known = entry;
            known.compressed_size = std::uint64_t{salt_bytes} + verifier_length +
                                    piece.deflated.size() + auth_code_length;
            known.local_header_offset = entry_start_;
            append_local_header(header, known);
        } else {
            // Room for the local header, filled in once the sizes are known.
            header.assign(header_size, '\0');
        }
        if (ResultCode r = write(header.data(), header.size())) return r;
        if (ResultCode r = write(piece.salt, salt_bytes)) return r;
        if (ResultCode r = write(piece.verifier, verifier_length)) return r;
    }
    if (!aes_) return result_compression_error;
    if (ResultCode r = write_encrypted(piece.deflated)) return r;
    if (!last) return result_ok;

    unsigned char code[auth_code_length];
    aes_->encrypt_end(code);
    const bool sealed = aes_->ok();
    aes_.reset();
    if (!sealed) return result_compression_error;
    if (ResultCode r = write(code, auth_code_length)) return r;
    const std::uint64_t end = position_;
    EntryInfo done = entry;
    done.compressed_size = end - entry_start_ - header_size;
    done.local_header_offset = entry_start_;
    // The header's room was fixed from a bound of the size: a size past it
    // would not fit the header already written.
    if (!entry.zip64_local && done.compressed_size >= zip64_marker) return result_internal_error;
    if (chunks > 1) {
        std::string header;
        append_local_header(header, done);
        if (!platform::seek_to(archive_.get(), static_cast<std::int64_t>(entry_start_)) ||
            !write_exact(archive_.get(), header.data(), header.size()) ||
            !platform::seek_to(archive_.get(), static_cast<std::int64_t>(end)))
            return result_write_failed;
    }
    return record_entry(done);
}

ResultCode ArchiveWriter::add_folder(const EntryInfo& entry) {
    if (!archive_) return result_write_failed;
    EntryInfo done = entry;
    done.local_header_offset = position_;
    try {
        std::string header;
        append_local_header(header, done);
        if (ResultCode r = write(header.data(), header.size())) return r;
    } catch (const std::bad_alloc&) {
        return result_out_of_memory;
    }
    return record_entry(done);
}

ResultCode ArchiveWriter::record_entry(const EntryInfo& done) {
    try {
        append_central_record(directory_, done);
    } catch (const std::bad_alloc&) {
        return result_out_of_memory;
    }
    ++entries_;
    directory_offset_ = position_;
    return result_ok;
}

ResultCode ArchiveWriter::finish() {
    if (!archive_) return result_close_failed;
    ResultCode result = result_ok;
    try {
        std::string tail;
        append_end_record(tail, entries_, directory_.size(), directory_offset_);
        result = write(directory_.data(), directory_.size());
        if (result == result_ok) result = write(tail.data(), tail.size());
        if (result == result_ok && std::fflush(archive_.get()) != 0) result = result_close_failed;
    } catch (const std::bad_alloc&) {
        result = result_close_failed;
    }
    if (!close_file(archive_) && result == result_ok) result = result_close_failed;
    // Only the file system's limit keeps its own code; any other failure here
    // is the archive not closing.
    if (result == result_write_failed) result = result_close_failed;
    finished_ = result == result_ok;
    return result;
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
    // Only while the name still leads to this job's file: another program
    // may have renamed its own file over it.
    if (!temp_path_.empty()) platform::delete_file_if(temp_path_.c_str(), temp_identity_);
    temp_path_.clear();
    finished_ = false;
}

namespace {

// Whether every component of a stored name (platform separators) comes back
// as spelled from this build's unlock.
bool is_storable_path(std::string_view stored) {
    const bool windows_rules = windows_name_rules();
    std::size_t start = 0;
    for (std::size_t at = 0, n; at <= stored.size(); at += n) {
        n = at < stored.size() ? platform::char_length(stored.data() + at) : 1;
        if (n == 0) n = 1;  // a NUL inside is a byte like any other here
        if (at < stored.size() && !(n == 1 && (stored[at] == platform::separator ||
                                               (windows_rules && stored[at] == '/'))))
            continue;
        if (!is_storable_name(stored.substr(start, at - start), windows_rules)) return false;
        start = at + 1;
    }
    return true;
}

// Visits every file the inputs name, in input order: a file by itself under
// its own name, a folder's files under the folder's name and their relative
// paths, and each folder with nothing below it as itself. An input that is
// gone fails the job with 10, named in job.refused_path; a file gone from a
// folder while it is walked is skipped. A folder that cannot be listed fails
// the job with 7, named in job.refused_path. The output and its temporary
// file are never taken as inputs, whatever path reaches them: reading the
// growing temporary file into itself would never end. visit returns non-zero
// to stop.
template <typename Visit>
ResultCode for_each_input_file(CryptJob& job, const std::string& temp_path, Visit visit) {
    FileSet own;
    own.add(job.output_path.c_str());  // fails harmlessly while no earlier output exists
    if (!temp_path.empty()) own.add(temp_path.c_str());
    auto is_output = [&](const std::string& p, const platform::FindData& found) {
        return own.contains(p.c_str(), found);
    };
    for (const std::string& input_path : job.inputs) {
        const char* input = input_path.c_str();
        // A named input that is gone would leave an archive without it,
        // taken for a copy of what it no longer holds.
        platform::FindData found;
        if (!platform::find_path(input, found)) {
            job.refused_path = input_path;
            return result_input_missing;
        }
        if (!found.is_folder) {
            if (is_output(input, found)) continue;
            if (ResultCode r = visit(input, found.name, found)) return r;
            continue;
        }
        FolderWalker walker(input);
        while (const FolderWalker::Record* file = walker.next()) {
            if (!file->data.is_folder && is_output(file->full_path, file->data)) continue;
            // A root has no name of its own: its files go under their
            // relative paths, and nothing stands for the root itself.
            std::string stored = found.name;
            if (!file->relative_path.empty())
                stored = stored.empty() ? file->relative_path
                                        : stored + platform::separator + file->relative_path;
            if (stored.empty()) continue;
            if (ResultCode r = visit(file->full_path.c_str(), stored, file->data)) return r;
        }
        if (!walker.unlisted().empty()) {
            job.refused_path = walker.unlisted();
            return result_read_failed;
        }
    }
    return result_ok;
}

}  // namespace

namespace {

// Chunk tasks ahead of the one being written: enough to keep every thread
// busy on small files. The budget bounds the deflated chunks held, each
// counted at twice a chunk's input (the file's size when smaller) plus the
// dictionary, what a vector grown by doubling may take; each thread's
// deflate state and blocks come on top.
constexpr std::size_t lock_window = 64;
constexpr std::uint64_t lock_buffer_budget = 8u << 20;

struct LockTask {
    ChunkWork work;
    ResultCode refused = result_ok;  // found when walked, reported in its turn
    bool folder = false;             // nothing to deflate: the writer adds it alone
    std::uint64_t cost = 0;          // buffer bytes it may hold
    ChunkResult result;
};

// A walked entry whose chunks are not all written yet.
struct PendingEntry {
    EntryInfo info;
    std::uint32_t chunks = 1;
    std::uint32_t written = 0;
};

// Adds the inputs' files to the writer: the walk runs on this thread and
// hands out one task per chunk; the pool's threads (this one among them)
// derive keys and deflate; this thread writes the chunks in walk order, so
// the archive is the same whatever the number of threads, and the first
// failure in walk order ends the job as it would with one thread.
class LockPipeline {
  public:
    LockPipeline(CryptJob& job, ArchiveWriter& writer)
        : job_(job),
          writer_(writer),
          threads_(worker_count(job.workers)),
          scratch_(threads_),
          tasks_(lock_window),
          pool_(threads_, lock_window,
                [this](std::size_t i, unsigned slot) { return run(i, slot); }) {}

    ~LockPipeline() {
        // Nothing still at work is needed any more: it stops within a block.
        pool_.failures().fail_all();
        pool_.stop();
    }

    ResultCode add(const char* path, const std::string& stored, const platform::FindData& found) {
        PendingEntry entry;
        const ResultCode refused =
            ArchiveWriter::describe_entry(stored.c_str(), found, job_, entry.info);
        const bool folder = entry.info.folder;
        entry.chunks = refused || folder ? 1 : chunk_count(found.size);
        entries_.push_back(std::move(entry));
        for (std::uint32_t chunk = 0; chunk < entries_.back().chunks; ++chunk) {
            const std::uint64_t length = folder ? 0 : std::min(found.size, deflate_chunk_size);
            const std::uint64_t cost = 2 * length + (chunk ? deflate_dictionary_size : 0);
            while (published_ - written_ == lock_window ||
                   (buffered_ > 0 && buffered_ + cost > lock_buffer_budget)) {
                if (ResultCode r = write_next()) return r;
            }
            LockTask& task = tasks_[published_ % lock_window];
            task.work.path = path;
            task.work.size = found.size;
            task.work.chunk = chunk;
            task.work.chunks = entries_.back().chunks;
            task.refused = refused;
            task.folder = folder;
            task.cost = cost;
            buffered_ += cost;
            pool_.publish(++published_);
        }
        return result_ok;
    }

    ResultCode finish() {
        while (written_ < published_) {
            if (ResultCode r = write_next()) return r;
        }
        return result_ok;
    }

  private:
    // The pool turns an exception into the task's code.
    ResultCode run(std::size_t i, unsigned slot) {
        LockTask& task = tasks_[i % lock_window];
        task.result.result = task.refused;
        if (task.refused || task.folder) return task.refused;
        encode_chunk(job_, task.work, scratch_[slot], GiveUp{&pool_.failures(), i}, task.result);
        return task.result.result;
    }

    ResultCode write_next() {
        ResultCode r = pool_.wait_for(written_);
        LockTask& task = tasks_[written_ % lock_window];
        PendingEntry& entry = entries_.front();
        if (r == result_ok)
            r = task.folder
                    ? writer_.add_folder(entry.info)
                    : writer_.add_chunk(entry.info, entry.written, entry.chunks, task.result);
        // A file that cannot be read is named, as a folder that cannot be
        // listed is.
        if (r == result_read_failed) job_.refused_path = task.work.path;
        if (r != result_ok) pool_.failures().fail(written_);
        // Hand the memory back at once: the budget counts it as free now.
        std::vector<unsigned char>().swap(task.result.deflated);
        buffered_ -= task.cost;
        ++written_;
        if (++entry.written == entry.chunks) entries_.pop_front();
        return r;
    }

    CryptJob& job_;
    ArchiveWriter& writer_;
    const unsigned threads_;
    std::vector<ChunkScratch> scratch_;  // one per thread slot
    std::vector<LockTask> tasks_;        // a ring over the window
    std::deque<PendingEntry> entries_;
    std::size_t published_ = 0, written_ = 0;
    std::uint64_t buffered_ = 0;
    TaskPool pool_;  // last: its threads use everything above
};

}  // namespace

ResultCode encrypt_worker(CryptJob& job) {
    job.processed = 0;
    job.total = 0;
    try {
        // A name the system spells differently from how it would be stored
        // (so that reading it opens another file) fails the job before any
        // archive exists: the input as given, then every stored name.
        // Two inputs of one name would merge their trees, or one entry
        // would hide the other on unlock.
        std::unordered_map<std::string, const std::string*> top_names;
        for (const std::string& input : job.inputs) {
            if (!is_storable_input(input, windows_name_rules())) {
                job.refused_path = input;
                return result_bad_path;
            }
            platform::FindData found;
            if (!platform::find_path(input.c_str(), found) || found.name.empty()) continue;
            const auto [earlier, fresh] =
                top_names.try_emplace(platform::path_key(found.name), &input);
            if (!fresh) {
                job.refused_path = input;
                job.same_name_as = *earlier->second;
                return result_bad_path;
            }
        }
        std::uint64_t sum = 0;
        WindowsNameMerges merges;
        const ResultCode named = for_each_input_file(
            job, std::string(),
            [&](const char* path, const std::string& stored, const platform::FindData& f) {
                if (!f.name_exact || !is_storable_path(stored)) {
                    job.refused_path = path;
                    return result_bad_path;
                }
                if (!f.is_folder) sum += f.size;
                merges.add(stored, f.is_folder, path);
                return result_ok;
            });
        if (named != result_ok) return named;
        job.windows_merges = merges.found();
        job.total = sum;

        ArchiveWriter writer;
        if (ResultCode r = writer.open(job.output_path.c_str())) return r;
        // Stored blocks never shrink the data: at level 0 the inputs alone
        // tell that the archive cannot fit.
        if (job.level == 0 && sum > writer.file_limit()) return result_file_system_limit;
        {
            LockPipeline pipeline(job, writer);
            ResultCode added = for_each_input_file(
                job, writer.temp_path(),
                [&](const char* path, const std::string& stored, const platform::FindData& found) {
                    if (!found.is_folder) job.current.set(path);
                    return pipeline.add(path, stored, found);
                });
            if (added == result_ok) added = pipeline.finish();
            if (added != result_ok) return added;  // the writer discards the archive
        }
        if (ResultCode r = writer.finish()) return r;
        return writer.commit();
    } catch (const std::bad_alloc&) {
        return result_out_of_memory;
    }
}

}  // namespace korvane
