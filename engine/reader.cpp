#include "engine/reader.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "archive/cipher/aes_enc.h"
#include "archive/directory.h"
#include "archive/format.h"
#include "archive/key_hash.h"
#include "archive/paths.h"
#include "engine/crypt_job.h"
#include "engine/entry_pipeline.h"
#include "engine/folder_book.h"
#include "engine/task_pool.h"
#include "engine/temp_file.h"
#include "platform/platform.h"

namespace korvane {

// An extracted entry's file, authenticated and dated, under the name it was
// written as; an existing file of the entry's name is replaced by it only
// when the entry's turn comes.
struct Extracted {
    std::string written, output;
    // What was written (set with written), as its own handle told: cleaning
    // up removes a file only while its name still leads to it, never an
    // earlier entry's file committed over it nor another program's file
    // renamed over it.
    platform::FileIdentity identity;
    // A link found where the entry's file or one of its folders goes, which
    // the entry failed on rather than write through it or replace it.
    std::string link;
    // The earlier entry whose file the file system took this entry's name
    // for (another case, a short name), which the entry failed on rather
    // than replace it.
    std::optional<std::size_t> same_as;
};

// The files an extraction has committed, by identity: a name that leads to
// one of them leads to an earlier entry's file, however the file system
// compares names (byte for byte, or case and short names on Windows).
class CommittedFiles {
  public:
    void add(const platform::FileIdentity& identity, std::size_t entry) {
        const std::lock_guard lock(mutex_);
        entries_.emplace(identity, entry);
    }
    // The entry whose committed file path names, if any.
    std::optional<std::size_t> entry_at(const char* path) const {
        platform::FileIdentity identity;
        if (!platform::file_identity(path, identity)) return std::nullopt;
        const std::lock_guard lock(mutex_);
        const auto it = entries_.find(identity);
        if (it == entries_.end()) return std::nullopt;
        return it->second;
    }

  private:
    struct Hash {
        std::size_t operator()(const platform::FileIdentity& id) const {
            return std::hash<std::uint64_t>()(id.index ^ (id.volume * 0x9E3779B97F4A7C15u));
        }
    };
    mutable std::mutex mutex_;
    std::unordered_map<platform::FileIdentity, std::size_t, Hash> entries_;
};

namespace {

// Allocation failure, wherever it happens below a public call, ends that
// call with 13.
template <typename Work>
ResultCode out_of_memory_as_code(Work work) {
    try {
        return work();
    } catch (const std::bad_alloc&) {
        return result_out_of_memory;
    }
}

EntrySummary summary_of(const DirectoryEntry& e) {
    EntrySummary summary;
    summary.name = e.name;
    summary.time = e.record.time;
    summary.compressed_size = e.record.compressed_size;
    summary.size = e.record.uncompressed_size;
    summary.encrypted = (e.record.flags & flag_encrypted) != 0;
    summary.strength = e.ae.strength_byte;
    summary.method = e.ae.valid ? e.ae.method : e.record.method;
    summary.ae_version = e.ae.version;
    return summary;
}

FilePtr open_archive(const char* path, DecodeState& s) {
    FilePtr f(platform::open_file(path, "rb"));
    if (!f) return f;
    if (!s.archive_buffer) s.archive_buffer = std::make_unique<char[]>(archive_buffer_size);
    std::setvbuf(f.get(), s.archive_buffer.get(), _IOFBF, archive_buffer_size);
    return f;
}

ResultCode copy_stored(DecodeState& s, std::FILE* output, std::uint64_t remaining, CAesEnc& aes,
                       std::uint32_t* crc) {
    unsigned char* const in = s.in.get();
    while (remaining > 0) {
        const auto piece =
            static_cast<unsigned int>(std::min<std::uint64_t>(remaining, block_size));
        if (ResultCode r = s.read_block(aes, in, piece)) return r;
        remaining -= piece;
        if (ResultCode r = DecodeState::write_block(output, crc, in, piece)) return r;
        if (s.stopping()) return result_cancelled;
    }
    return result_ok;
}

// A big entry is inflated on a thread of its own when one can be had.
ResultCode inflate_stream(DecodeState& s, std::FILE* output, std::uint64_t remaining,
                          std::optional<std::uint64_t> size, CAesEnc& aes, std::uint32_t* crc) {
    if (const std::optional<ResultCode> r = inflate_pipelined(s, output, remaining, size, aes, crc))
        return *r;
    unsigned char* const in = s.in.get();
    return inflate_exact(
        s.inflater, remaining, size, s.out.get(), block_size,
        [&](std::uint64_t left, unsigned char*& data, unsigned int& length) {
            length = static_cast<unsigned int>(std::min<std::uint64_t>(left, block_size));
            data = in;
            return s.read_block(aes, in, length);
        },
        [&](unsigned char*& out, unsigned int filled, bool) {
            return DecodeState::write_block(output, crc, out, filled);
        },
        [&] { return s.stopping(); });
}

// Deletes what an entry wrote, while it is still that.
void remove_written(const Extracted& done) {
    if (!done.written.empty()) platform::delete_file_if(done.written.c_str(), done.identity);
}

// Moves an extracted file over an earlier one of its name; 9 when that fails,
// and the new file is gone.
ResultCode commit(const Extracted& done) {
    if (done.written == done.output) return result_ok;
    if (platform::replace_file(done.written.c_str(), done.output.c_str())) return result_ok;
    remove_written(done);
    return result_open_output_failed;
}

// True when a symbolic link (or junction) stands at path.
bool is_link(const char* path) {
    platform::FindData found;
    return platform::find_path(path, found) && found.is_link;
}

// Decodes the entry data at the archive's position into output_path (nothing
// when it is nullptr), dated time when one is given. The authenticated file
// stays under done->written for the caller to commit. A new file is made
// under its own name at once, an existing one gets a temporary file beside
// it; a link there is neither followed nor replaced. The file is made,
// written, dated and identified through the one handle that made it.
ResultCode decode(DecodeState& s, const char* output_path, std::uint64_t compressed_size,
                  const EntryCoding& coding, const std::optional<platform::LocalTime>& time,
                  Extracted* done) {
    std::FILE* const archive = s.archive.get();
    const int strength = coding.strength ? coding.strength : s.strength;
    const unsigned int salt_bytes = salt_length(strength);
    // Salt, verifier and code must fit, or the stream length is negative.
    if (compressed_size < salt_bytes + verifier_length + auth_code_length)
        return result_not_encrypted;

    CAesEnc aes;
    unsigned char salt[16], verifier[verifier_length];
    if (!read_exact(archive, salt, salt_bytes) || !read_exact(archive, verifier, verifier_length))
        return result_read_failed;
    const auto* pw = reinterpret_cast<const unsigned char*>(s.password);
    if (aes.decrypt_start(pw, salt, verifier, strength) != 0)
        return aes.ok() ? result_bad_password : result_expansion_error;
    if (coding.method != method_deflate && coding.method != method_stored)
        return result_expansion_error;
    const std::uint64_t remaining =
        compressed_size - salt_bytes - verifier_length - auth_code_length;
    // Stored data is as long as the file it holds.
    if (coding.method == method_stored && coding.size && remaining != *coding.size)
        return result_expansion_error;

    FilePtr output;
    std::string parent;
    if (output_path) {
        parent.assign(std::strlen(output_path) + 1, '\0');
        if (!parent_folder(output_path, parent.data(), parent.size())) return result_folder_failed;
        parent.resize(std::strlen(parent.c_str()));
        if (!(s.folders ? s.folders->ensure(parent, s.entry, &done->link)
                        : create_folder_chain(parent.c_str())))
            return result_folder_failed;
        std::string written = output_path;
        const char* const root = s.folders ? s.folders->root() : nullptr;
        output.reset(platform::create_new_file(output_path, root));
        if (!output && is_link(output_path)) {
            done->link = output_path;
            return result_open_output_failed;
        }
        // An earlier entry's file is never replaced: only a file that was
        // there before the job is.
        if (!output && s.committed) {
            done->same_as = s.committed->entry_at(output_path);
            if (done->same_as) return result_folder_failed;
        }
        if (!output) output = create_temp_beside(output_path, written, root);
        // A folder swapped for a link since the book made or found it.
        if (!output && root) {
            done->link = s.folders->link_on_the_way(parent);
            if (!done->link.empty()) return result_folder_failed;
        }
        // The folder's volume, asked once for all its files.
        const std::optional<std::uint64_t> volume =
            output && s.folders ? s.folders->volume_of(parent) : std::nullopt;
        if (!output || !identify_new_file(output, written, done->identity, volume))
            return result_open_output_failed;
        done->written = std::move(written);
        // Whole blocks are written: a buffer would only copy and split them.
        std::setvbuf(output.get(), nullptr, _IONBF, 0);
    }
    // Closed before it is deleted on every way out (Windows cannot delete an
    // open file), also when an exception unwinds.
    struct RemoveUnlessKept {
        FilePtr& file;
        Extracted& done;
        bool kept = false;
        ~RemoveUnlessKept() {
            file.reset();
            if (kept) return;
            remove_written(done);
            done.written.clear();
        }
    } remove_unless_kept{output, *done};
    if (!output_path) remove_unless_kept.kept = true;
    // Where the file was made by its path, a folder on it may have been
    // swapped for a link after the book held it (Wine lets a held folder
    // be renamed): the file, made where the link leads, goes again.
    if (output && s.folders && s.folders->root() && !platform::creation_holds_the_way) {
        done->link = s.folders->link_on_the_way(parent);
        if (!done->link.empty()) return result_folder_failed;
    }

    if (!s.in) s.in = std::make_unique_for_overwrite<unsigned char[]>(block_size);
    if (!s.out) s.out = std::make_unique_for_overwrite<unsigned char[]>(block_size);

    std::uint32_t crc = 0;
    std::uint32_t* const track = coding.check_crc ? &crc : nullptr;
    ResultCode result = coding.method == method_stored
                            ? copy_stored(s, output.get(), remaining, aes, track)
                            : inflate_stream(s, output.get(), remaining, coding.size, aes, track);
    // Dated before it closes, through its own handle; a file that cannot be
    // dated is still extracted.
    if (result == result_ok && output && time) platform::set_stream_times(output.get(), *time);
    if (output_path && !close_file(output)) result = result_close_failed;
    if (result != result_ok) return result;

    unsigned char code[auth_code_length];
    if (!read_exact(archive, code, auth_code_length) || aes.decrypt_end(code) != 0)
        return result_bad_data;
    // AE-1 keeps the plain data's CRC as well; it is checked only once the
    // code has shown the stream is the one that was written.
    if (coding.check_crc && crc != coding.crc) return result_bad_data;
    if (!output_path) return result_ok;
    done->output = output_path;
    remove_unless_kept.kept = true;  // only an authenticated file gets here
    return result_ok;
}

// Drops the single top folder from an entry's name, where there is one;
// false when the name has none to drop.
bool below_top_level(std::string& name, const DirectoryLayout& layout) {
    if (!layout.single_top_level) return true;
    const std::size_t separator = first_separator(name);
    if (separator == std::string::npos) return false;
    name.erase(0, separator + 1);
    return true;
}

// Other tools store folders as empty, unencrypted entries named "x/".
bool is_folder_entry(const DirectoryEntry& entry) {
    const CentralRecord& record = entry.record;
    return (record.flags & flag_encrypted) == 0 && !entry.name.empty() &&
           entry.name.back() == '/' && record.uncompressed_size == 0 && record.compressed_size == 0;
}

// Extracts the entry of one central record into destination (nothing when it
// is nullptr); the file is left in done for commit. A folder entry whose
// folder is held back (hold_folder) is only checked, its path left in
// done.output.
ResultCode extract_entry(DecodeState& s, const DirectoryEntry& entry, const char* destination,
                         const DirectoryLayout& layout, bool hold_folder, Extracted& done) {
    if (given_up(s)) return result_cancelled;
    const CentralRecord& record = entry.record;
    std::string name = entry.name;

    const bool encrypted = (record.flags & flag_encrypted) != 0;
    const bool folder = is_folder_entry(entry);

    // A name may hold no terminator (it would hide the rest from the checks),
    // must stay below the destination, and must name a file (or, for a
    // folder entry, a folder; the dropped top level is the destination).
    const bool windows_rules = windows_name_rules();
    if (!entry.name_decoded || name.find('\0') != std::string::npos ||
        !is_safe_entry_name(name.c_str(), windows_rules))
        return result_bad_path;
    if (!below_top_level(name, layout)) return result_bad_path;
    if (folder && !name.empty()) name.pop_back();
    if ((!folder || !name.empty()) &&
        (name.empty() || !is_safe_entry_name(name.c_str(), windows_rules) || name.back() == '/' ||
         name.back() == '\\'))
        return result_bad_path;
    // This tool opens encrypted archives only.
    if (!encrypted && !folder) return result_not_encrypted;
    to_platform_separators(name.data(), name.data(), name.size());
    std::string output;
    if (destination)
        output = name.empty() ? std::string(destination)
                              : std::string(destination) + platform::separator + name;

    if (folder) {
        if (hold_folder) {
            done.output = std::move(output);
            return result_ok;
        }
        if (destination && !(s.folders ? s.folders->ensure(output, s.entry, &done.link)
                                       : create_folder_chain(output.c_str())))
            return result_folder_failed;
        return result_ok;
    }

    EntryCoding coding;
    if (entry.ae.valid) {
        coding.strength = entry.ae.strength_byte;
        coding.method = entry.ae.method;
        coding.check_crc = entry.ae.version == 1;
        coding.crc = record.crc;
    }
    // The directory's sizes: the local header's agree unless a descriptor
    // holds them.
    coding.size = record.uncompressed_size;
    const std::uint64_t compressed = record.compressed_size;
    const auto data_offset = static_cast<std::int64_t>(entry.data_offset);
    if (!go_to(s.archive.get(), s.position, data_offset)) return result_not_encrypted;
    const ResultCode result = decode(s, destination ? output.c_str() : nullptr, compressed, coding,
                                     platform::to_local_time(entry.local_time), &done);
    // A decoded entry was read to its end, where the next one often starts.
    s.position = result == result_ok ? data_offset + static_cast<std::int64_t>(compressed) : -1;
    return result;
}

// The key of the path an entry's name leads to below the destination.
std::string output_key(const DirectoryEntry& entry, const DirectoryLayout& layout) {
    std::string name = entry.name;
    below_top_level(name, layout);
    to_platform_separators(name.data(), name.data(), name.size());
    return platform::path_key(name);
}

// For each entry, the last entry before it that it must wait for (none: -1):
// one whose path the file system takes for its own, or for a folder above or
// below it (a file where a folder goes, either way round, folder entries as
// well), and any earlier entry at all when either may hold a short name,
// which only the file system can compare. Going entry by entry, each of them
// is finished first, so the entry starts only then.
//
// Keys are known by a hash of their bytes, each folder's the hash of the key
// up to its separator, taken on the way along the key: time and memory grow
// with the names' length, not with its square. Two keys of one hash only
// make an entry wait for an earlier one it need not wait for.
std::vector<std::size_t> earlier_conflicts(const std::vector<DirectoryEntry>& entries,
                                           const DirectoryLayout& layout) {
    constexpr std::size_t none = static_cast<std::size_t>(-1);
    std::vector<std::size_t> earlier(entries.size(), none);
    // The last entry of each key, and the last entry below each folder key.
    std::unordered_map<KeyHash, std::size_t> last_at, last_below;
    std::size_t last_short = none;
    auto later = [](std::size_t a, std::size_t b) {
        return a == none ? b : b == none ? a : std::max(a, b);
    };
    auto find = [](const std::unordered_map<KeyHash, std::size_t>& map, KeyHash key) {
        const auto it = map.find(key);
        return it == map.end() ? none : it->second;
    };
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::string key = output_key(entries[i], layout);
        const KeyHash whole = hash_along(key, [](KeyHash, std::size_t) {});
        std::size_t wait = later(find(last_at, whole), find(last_below, whole));
        wait = later(wait, last_short);
        if (platform::may_be_short_name(entries[i].name)) {
            wait = i == 0 ? none : i - 1;
            last_short = i;
        }
        // The folders above: the destination itself (the empty key), then
        // the key up to each separator after its first character.
        auto above = [&](KeyHash folder) {
            wait = later(wait, find(last_at, folder));
            last_below[folder] = i;
        };
        if (!key.empty()) above(empty_key_hash);
        hash_along(key, [&](KeyHash folder, std::size_t) { above(folder); });
        last_at[whole] = i;
        earlier[i] = wait;
    }
    return earlier;
}

// True when the file entry first stands where one of the folder entries
// before it goes, or above one: those must be made first to fail as going
// entry by entry would. A folder above the file is made for it anyway.
bool first_file_meets_a_folder(const std::vector<DirectoryEntry>& entries,
                               const DirectoryLayout& layout, std::size_t first) {
    auto folder_key = [&](std::size_t i) {
        std::string key = output_key(entries[i], layout);
        if (!key.empty() && key.back() == '/') key.pop_back();
        return key;
    };
    const std::string file = folder_key(first);
    for (std::size_t i = 0; i < first; ++i) {
        const std::string folder = folder_key(i);
        if (folder.starts_with(file) &&
            (folder.size() == file.size() || folder[file.size()] == '/'))
            return true;
    }
    return false;
}

// What a failed entry tells the user beyond its code.
ArchiveFault entry_fault(const DirectoryEntry& entry, ResultCode result, unsigned code_page) {
    ArchiveFault fault;
    fault.entry = shown_name(entry);
    if (result == result_bad_password) fault.reason = "does not open with this password";
    if (result != result_bad_path) return fault;
    if (entry.name_decoded) {
        fault.reason = "cannot be written below the destination under its name";
    } else if (entry.record.flags & flag_utf8_name) {
        fault.reason = "has a name flagged as UTF-8 that is not";
    } else {
        fault.name_unreadable = true;
        fault.reason = code_page ? "has a name that code page " + std::to_string(code_page) +
                                       " has no reading for"
                                 : "has a name that this system's code page has no reading for";
    }
    return fault;
}

// Entries decoded ahead of the one being finished: bounds what a failure
// has to take back.
constexpr std::size_t unlock_window = 64;

}  // namespace

void ArchiveReader::begin(const char* password, std::atomic<std::uint64_t>& processed,
                          const std::atomic<bool>& cancel) {
    state_.password = password;
    state_.strength = key_strength(std::strlen(password));
    state_.processed = &processed;
    state_.cancel = &cancel;
    fault_ = ArchiveFault{};
}

ResultCode ArchiveReader::extract_all(const char* archive_path, const char* destination,
                                      const char* password, std::atomic<std::uint64_t>& processed,
                                      const std::atomic<bool>& cancel) {
    begin(password, processed, cancel);
    link_in_the_way_.clear();
    return out_of_memory_as_code(
        [&]() -> ResultCode { return scan(archive_path, destination, nullptr); });
}

ResultCode ArchiveReader::test_all(const char* archive_path, const char* password,
                                   std::atomic<std::uint64_t>& processed,
                                   const std::atomic<bool>& cancel) {
    begin(password, processed, cancel);
    return out_of_memory_as_code(
        [&]() -> ResultCode { return scan(archive_path, nullptr, nullptr); });
}

ResultCode ArchiveReader::list_all(const char* archive_path, const Visit& visit) {
    std::atomic<std::uint64_t> unused{0};
    const std::atomic<bool> no_cancel{false};
    begin("", unused, no_cancel);
    return out_of_memory_as_code(
        [&]() -> ResultCode { return scan(archive_path, nullptr, &visit); });
}

ResultCode ArchiveReader::decode_entry(const char* password, const char* output_path,
                                       std::uint64_t compressed_size,
                                       std::atomic<std::uint64_t>& processed,
                                       const std::atomic<bool>& cancel) {
    return decode_entry(password, output_path, compressed_size, EntryCoding{}, processed, cancel);
}

ResultCode ArchiveReader::decode_entry(const char* password, const char* output_path,
                                       std::uint64_t compressed_size, const EntryCoding& coding,
                                       std::atomic<std::uint64_t>& processed,
                                       const std::atomic<bool>& cancel) {
    begin(password, processed, cancel);
    return out_of_memory_as_code([&]() -> ResultCode {
        state_.folders = nullptr;
        state_.failures = nullptr;
        state_.pool = nullptr;
        Extracted done;
        if (ResultCode r =
                decode(state_, output_path, compressed_size, coding, std::nullopt, &done))
            return r;
        return output_path ? commit(done) : result_ok;
    });
}

ResultCode ArchiveReader::scan(const char* archive_path, const char* destination,
                               const Visit* visit) {
    FilePtr file = open_archive(archive_path, state_);
    if (!file) return result_input_missing;
    state_.archive = std::move(file);
    struct CloseOnExit {
        FilePtr& f;
        ~CloseOnExit() { f.reset(); }
    } close_on_exit{state_.archive};
    std::FILE* const f = state_.archive.get();

    platform::FindData info;
    if (!platform::find_path(archive_path, info) || info.is_folder) return result_not_encrypted;
    DirectoryLayout layout;
    std::vector<DirectoryEntry> entries;
    if (ResultCode r =
            read_archive_directory(f, info.size, name_code_page_, layout, entries, fault_))
        return r;
    if (!visit) return extract_entries(archive_path, destination, layout, entries);
    for (const DirectoryEntry& entry : entries) {
        if (ResultCode r = (*visit)(summary_of(entry))) return r;
    }
    return result_ok;
}

ResultCode ArchiveReader::extract_entries(const char* archive_path, const char* destination,
                                          const DirectoryLayout& layout,
                                          const std::vector<DirectoryEntry>& entries) {
    const std::size_t count = entries.size();
    const unsigned budget = worker_count(workers_);
    const unsigned threads = count < 2 ? 1 : budget;
    // A name no path can hold is refused before any work.
    for (const DirectoryEntry& entry : entries) {
        if (!fits_system_path(entry.name)) {
            fault_ = entry_fault(entry, result_bad_path, name_code_page_);
            fault_.reason = "has a name longer than any path";
            return result_bad_path;
        }
    }
    std::vector<std::size_t> conflict = earlier_conflicts(entries, layout);
    // Folder entries carry no password check: those before the first file
    // are made only once that file has authenticated, so a wrong password
    // leaves the destination as it was. An entry that conflicts with one of
    // them waits for that file too.
    std::size_t first_file = 0;
    while (first_file < count && is_folder_entry(entries[first_file])) ++first_file;
    if (first_file == count || first_file_meets_a_folder(entries, layout, first_file))
        first_file = 0;
    for (std::size_t i = first_file + 1; i < count; ++i)
        if (conflict[i] != static_cast<std::size_t>(-1) && conflict[i] < first_file)
            conflict[i] = first_file;
    std::vector<std::pair<std::size_t, std::string>> held;  // entry, folder

    FolderBook folders(destination ? destination : "");
    CommittedFiles committed;
    // Thread slot 0 is this thread, which reads with the reader's own stream;
    // the others open their own on their first entry.
    std::vector<DecodeState> states(threads);
    for (DecodeState& s : states) {
        s.password = state_.password;
        s.strength = state_.strength;
        s.processed = state_.processed;
        s.cancel = state_.cancel;
        s.folders = &folders;
        s.committed = &committed;
        s.position = -1;
    }
    states[0].archive = std::move(state_.archive);
    struct GiveBack {
        FilePtr& to;
        FilePtr& from;
        ~GiveBack() { to = std::move(from); }
    } give_back{state_.archive, states[0].archive};

    struct Slot {
        bool ran = false;
        Extracted done;
    };
    std::vector<Slot> slots(unlock_window);
    TaskPool pool(
        threads, unlock_window,
        [&](std::size_t i, unsigned thread) -> ResultCode {
            DecodeState& s = states[thread];
            Slot& slot = slots[i % unlock_window];
            slot.ran = true;
            if (!s.archive) {
                s.archive = open_archive(archive_path, s);
                if (!s.archive) return result_input_missing;
                s.position = 0;
            }
            s.entry = i;
            if (entry_start_) entry_start_(i);
            return extract_entry(s, entries[i], destination, layout, i < first_file, slot.done);
        },
        budget);
    for (DecodeState& s : states) {
        s.failures = &pool.failures();
        s.pool = &pool;
    }
    // Entries below finished are done; an entry is handed out once every
    // entry it conflicts with is done.
    std::size_t published = 0;
    auto publish_up_to = [&](std::size_t limit, std::size_t finished) {
        for (limit = std::min(limit, count); published < limit; ++published) {
            const std::size_t before = conflict[published];
            if (before != static_cast<std::size_t>(-1) && before >= finished) break;
            slots[published % unlock_window] = Slot{};
        }
        pool.publish(published);
    };
    publish_up_to(unlock_window, 0);
    for (std::size_t i = 0; i < count; ++i) {
        if (current_) current_->set(shown_name(entries[i]));
        ResultCode r = pool.wait_for(i);
        Slot& slot = slots[i % unlock_window];
        std::size_t at_fault = i;
        if (r == result_ok && destination && !slot.done.written.empty()) {
            r = commit(slot.done);
            if (r == result_ok) committed.add(slot.done.identity, i);
        }
        if (r == result_ok && i < first_file && destination)
            held.emplace_back(i, std::move(slot.done.output));
        if (r == result_ok && i == first_file) {
            for (const auto& [entry, folder] : held) {
                if (!folders.ensure(folder, entry, &slot.done.link)) {
                    r = result_folder_failed;
                    at_fault = entry;
                    break;
                }
            }
            held.clear();
        }
        if (r == result_ok) {
            publish_up_to(i + 1 + unlock_window, i + 1);
            continue;
        }
        if (r != result_cancelled) fault_ = entry_fault(entries[at_fault], r, name_code_page_);
        if (slot.done.same_as)
            fault_.reason = "names the same file here as entry '" +
                            shown_name(entries[*slot.done.same_as]) + "'";
        // Wind back what the threads did for the failed entry and past it:
        // only files they made that are still theirs.
        link_in_the_way_ = slot.done.link;
        pool.failures().fail(i);
        pool.stop();
        for (std::size_t j = i + 1; j < published; ++j) {
            if (slots[j % unlock_window].ran) remove_written(slots[j % unlock_window].done);
        }
        folders.remove_from(at_fault == i ? i : i + 1);
        return r;
    }
    return result_ok;
}

ResultCode decrypt_worker(CryptJob& job) {
    job.processed = 0;
    job.total = 0;
    return out_of_memory_as_code([&]() -> ResultCode {
        const auto reader = std::make_unique<ArchiveReader>();
        std::uint64_t total = 0;
        for (const std::string& input : job.inputs) {
            platform::FindData found;
            if (platform::find_path(input.c_str(), found)) total += found.size;
        }
        job.total = total;
        for (const std::string& input : job.inputs) {
            reader->set_workers(job.workers);
            reader->set_name_code_page(job.name_code_page);
            reader->set_current_item(&job.current);
            if (ResultCode r =
                    reader->extract_all(input.c_str(), job.output_path.c_str(),
                                        job.password.c_str(), job.processed, job.cancel)) {
                job.fault = reader->fault();
                job.refused_path = reader->link_in_the_way();
                return r;
            }
        }
        return result_ok;
    });
}

}  // namespace korvane
