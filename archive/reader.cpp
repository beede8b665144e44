#include "archive/reader.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "archive/cipher/aes_enc.h"
#include "archive/crypt_job.h"
#include "archive/format.h"
#include "archive/paths.h"
#include "archive/temp_file.h"
#include "platform/platform.h"

namespace korvane {

namespace {

// Equal apart from the case of single-byte letters; the bytes of a
// multi-byte character must match exactly.
bool same_ignoring_case(const char* a, const char* b) {
    while (*a && *b) {
        const std::size_t la = platform::char_length(a), lb = platform::char_length(b);
        if (la != lb) return false;
        if (la == 1) {
            auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
            if (fold(*a) != fold(*b)) return false;
        } else if (std::memcmp(a, b, la) != 0) {
            return false;
        }
        a += la;
        b += lb;
    }
    return *a == *b;
}

bool read_at(std::FILE* f, std::int64_t offset, unsigned char* buffer, std::size_t length,
             std::size_t& got) {
    if (!platform::seek_to(f, offset)) return false;
    got = std::fread(buffer, 1, length, f);
    return true;
}

constexpr std::uint16_t flag_encrypted = 1;
constexpr std::uint16_t flag_data_descriptor = 8;
constexpr std::uint16_t method_stored = 0;
constexpr std::uint16_t ae_extra_id = 0x9901;

struct AeField {
    int strength_byte = 0;  // 1..3 when the field holds one, whatever else it says
    bool valid = false;     // version 1 or 2, vendor "AE", strength 1..3
    int version = 0;
    std::uint16_t method = 0;
};

// The AE field may sit among other tools' fields: walk them by length.
AeField find_ae_field(const std::string& extra) {
    AeField ae;
    const auto* p = reinterpret_cast<const unsigned char*>(extra.data());
    for (std::size_t at = 0; at + 4 <= extra.size();) {
        const std::uint16_t id = read_u16(p + at), length = read_u16(p + at + 2);
        if (id == ae_extra_id && length >= 7 && at + 4 + length <= extra.size()) {
            const unsigned char* f = p + at + 4;
            // A damaged byte is "unknown", not a strength we would use.
            if (f[4] >= 1 && f[4] <= 3) ae.strength_byte = f[4];
            const int version = read_u16(f);
            if ((version == 1 || version == 2) && f[2] == 'A' && f[3] == 'E' && ae.strength_byte) {
                ae.valid = true;
                ae.version = version;
                ae.method = read_u16(f + 5);
            }
            break;
        }
        at += 4 + std::size_t{length};
    }
    return ae;
}

// Tracks whether every name seen so far shares one first component.
void note_top_level(std::string& name, std::uint32_t index, bool& single, std::string& first) {
    if (!cut_at_first_separator(name.data())) {
        single = false;
    } else if (index == 0) {
        single = true;
        first = name.c_str();
    } else if (single && !same_ignoring_case(first.c_str(), name.c_str())) {
        single = false;
    }
}

// Steps through the local headers up to the central directory. 11 also for
// a header announcing a data descriptor: its sizes are not in the header,
// so only the central directory can tell where the entry ends.
ResultCode walk_local_headers(std::FILE* f, std::int64_t& directory, bool& single_top_level) {
    std::int64_t offset = 0;
    std::string first_top, name;
    unsigned char header[local_header_size];
    single_top_level = false;
    for (std::uint32_t index = 0;; ++index) {
        std::size_t got = 0;
        if (!read_at(f, offset, header, local_header_size, got)) return result_not_encrypted;
        if (got >= 4 && read_u32(header) == central_record_signature) break;
        if (got < local_header_size || read_u32(header) != local_header_signature ||
            (read_u16(header + 6) & flag_data_descriptor))
            return result_not_encrypted;
        const std::uint16_t name_length = read_u16(header + 26);
        const std::uint16_t extra_length = read_u16(header + 28);
        const std::uint32_t compressed = read_u32(header + 18);
        try {
            name.assign(name_length, '\0');
        } catch (const std::bad_alloc&) {
            return result_out_of_memory;
        }
        if (!read_exact(f, name.data(), name_length)) return result_not_encrypted;
        note_top_level(name, index, single_top_level, first_top);
        offset += std::int64_t{local_header_size} + name_length + extra_length + compressed;
    }
    directory = offset;
    return result_ok;
}

struct Directory {
    std::int64_t offset = 0;  // first central record
    std::int64_t end = 0;     // the end record
    std::uint32_t entries = 0;
};

// The end record closes the file, followed only by its comment. Only a
// single-disk directory with at least one entry that ends exactly where the
// end record starts is trusted.
bool find_directory(std::FILE* f, std::int64_t file_size, Directory& directory) {
    const std::int64_t span = std::min<std::int64_t>(file_size, end_record_size + 0xFFFF);
    if (span < std::int64_t{end_record_size}) return false;
    std::string tail;
    try {
        tail.assign(static_cast<std::size_t>(span), '\0');
    } catch (const std::bad_alloc&) {
        return false;
    }
    auto* t = reinterpret_cast<unsigned char*>(tail.data());
    std::size_t got = 0;
    if (!read_at(f, file_size - span, t, tail.size(), got) || got != tail.size()) return false;
    for (std::int64_t i = span - std::int64_t{end_record_size}; i >= 0; --i) {
        const unsigned char* e = t + i;
        if (read_u32(e) != end_record_signature ||
            i + std::int64_t{end_record_size} + read_u16(e + 20) != span)
            continue;
        const std::int64_t at = file_size - span + i;
        const std::uint16_t entries = read_u16(e + 10);
        if (read_u16(e + 4) != 0 || read_u16(e + 6) != 0 || read_u16(e + 8) != entries ||
            entries == 0 || std::int64_t{read_u32(e + 16)} + read_u32(e + 12) != at)
            return false;
        directory = {read_u32(e + 16), at, entries};
        return true;
    }
    return false;
}

}  // namespace

ResultCode ArchiveReader::extract_all(const char* archive_path, const char* destination,
                                      const char* password,
                                      std::atomic<std::uint32_t>& processed,
                                      const std::atomic<bool>& cancel) {
    return scan(archive_path, destination, password, processed, cancel, nullptr);
}

ResultCode ArchiveReader::test_all(const char* archive_path, const char* password,
                                   std::atomic<std::uint32_t>& processed,
                                   const std::atomic<bool>& cancel) {
    return scan(archive_path, nullptr, password, processed, cancel, nullptr);
}

ResultCode ArchiveReader::list_all(const char* archive_path, const Visit& visit) {
    std::atomic<std::uint32_t> unused{0};
    const std::atomic<bool> no_cancel{false};
    return scan(archive_path, nullptr, "", unused, no_cancel, &visit);
}

ResultCode ArchiveReader::scan(const char* archive_path, const char* destination,
                               const char* password, std::atomic<std::uint32_t>& processed,
                               const std::atomic<bool>& cancel, const Visit* visit) {
    FilePtr file(std::fopen(archive_path, "rb"));
    if (!file) return result_input_missing;
    archive_ = std::move(file);
    ready_folder_.clear();
    struct CloseOnExit {
        FilePtr& f;
        ~CloseOnExit() { f.reset(); }
    } close_on_exit{archive_};

    // First pass: walk the local headers up to the central directory, and
    // learn whether every name shares one first component. When they cannot
    // be walked, an intact end record still leads to the directory.
    std::int64_t directory = 0;
    bool single_top_level = false;
    bool from_directory = false;
    Directory found;
    const ResultCode walked = walk_local_headers(archive_.get(), directory, single_top_level);
    if (walked == result_not_encrypted) {
        platform::FindData info;
        if (!platform::find_path(archive_path, info) ||
            !find_directory(archive_.get(), static_cast<std::int64_t>(info.size), found))
            return result_not_encrypted;
        from_directory = true;
        directory = found.offset;
    } else if (walked != result_ok) {
        return walked;
    }

    // Second pass: the central records up to the end record. They are all
    // checked before the first entry is extracted, so a damaged directory
    // extracts nothing.
    unsigned char header[central_record_size];
    std::string first_top, name;
    for (int walk = 0; walk < 2; ++walk) {
        std::int64_t offset = directory;
        std::uint32_t records = 0;
        while (true) {
            std::size_t got = 0;
            if (!read_at(archive_.get(), offset, header, central_record_size, got))
                return result_not_encrypted;
            // The end record is shorter than a central record: test it first.
            if (got >= 4 && read_u32(header) == end_record_signature) break;
            if (got < central_record_size || read_u32(header) != central_record_signature)
                return result_not_encrypted;
            const std::uint16_t name_length = read_u16(header + 28);
            if (walk == 0 && from_directory) {
                try {
                    name.assign(name_length, '\0');
                } catch (const std::bad_alloc&) {
                    return result_out_of_memory;
                }
                if (!read_exact(archive_.get(), name.data(), name_length))
                    return result_not_encrypted;
                note_top_level(name, records, single_top_level, first_top);
            }
            if (walk == 1) {
                const ResultCode r =
                    visit ? summarize_entry(offset, *visit)
                          : extract_entry(offset, destination, password, processed,
                                          single_top_level, from_directory, cancel);
                if (r != result_ok) return r;
            }
            offset += std::int64_t{central_record_size} + name_length + read_u16(header + 30) +
                      read_u16(header + 32);
            ++records;
        }
        if (from_directory && (offset != found.end || records != found.entries))
            return result_not_encrypted;
    }
    return result_ok;
}

ResultCode ArchiveReader::summarize_entry(std::int64_t central_offset, const Visit& visit) {
    unsigned char record[central_record_size];
    std::size_t got = 0;
    if (!read_at(archive_.get(), central_offset, record, central_record_size, got) ||
        got < central_record_size)
        return result_not_encrypted;
    const std::uint16_t name_length = read_u16(record + 28);
    const std::uint16_t extra_length = read_u16(record + 30);
    EntrySummary entry;
    std::string extra;
    try {
        entry.name.assign(name_length, '\0');
        extra.assign(extra_length, '\0');
    } catch (const std::bad_alloc&) {
        return result_out_of_memory;
    }
    if (!read_exact(archive_.get(), entry.name.data(), name_length) ||
        !read_exact(archive_.get(), extra.data(), extra_length))
        return result_not_encrypted;
    entry.time = {read_u16(record + 12), read_u16(record + 14)};
    entry.compressed_size = read_u32(record + 20);
    entry.size = read_u32(record + 24);
    entry.encrypted = (read_u16(record + 8) & flag_encrypted) != 0;
    const AeField ae = find_ae_field(extra);
    entry.strength = ae.strength_byte;
    entry.method = ae.valid ? ae.method : read_u16(record + 10);
    entry.ae_version = ae.version;
    return visit(entry);
}

ResultCode ArchiveReader::extract_entry(std::int64_t central_offset, const char* destination,
                                        const char* password,
                                        std::atomic<std::uint32_t>& processed,
                                        bool strip_top_level, bool from_directory,
                                        const std::atomic<bool>& cancel) {
    unsigned char record[central_record_size];
    std::size_t got = 0;
    if (!read_at(archive_.get(), central_offset, record, central_record_size, got) ||
        got < central_record_size || read_u32(record) != central_record_signature)
        return result_not_encrypted;
    const std::uint16_t flags = read_u16(record + 8);
    const std::uint32_t crc = read_u32(record + 16);
    const std::uint32_t compressed = read_u32(record + 20);
    const std::uint32_t size = read_u32(record + 24);
    const std::uint16_t name_length = read_u16(record + 28);
    const std::uint16_t extra_length = read_u16(record + 30);
    const std::uint32_t local_offset = read_u32(record + 42);

    std::string name, extra, output;
    try {
        name.assign(name_length, '\0');
        extra.assign(extra_length, '\0');
    } catch (const std::bad_alloc&) {
        return result_out_of_memory;
    }
    if (!read_exact(archive_.get(), name.data(), name_length) ||
        !read_exact(archive_.get(), extra.data(), extra_length))
        return result_not_encrypted;

    // Other tools store folders as empty, unencrypted entries named "x/".
    const bool encrypted = (flags & flag_encrypted) != 0;
    const bool folder =
        !encrypted && !name.empty() && name.back() == '/' && size == 0 && compressed == 0;

    // A name may hold no terminator (it would hide the rest from the checks),
    // must stay below the destination, and must name a file (or, for a
    // folder entry, a folder; the dropped top level is the destination).
    const bool windows_rules = windows_name_rules();
    if (name.find('\0') != std::string::npos || !is_safe_entry_name(name.c_str(), windows_rules))
        return result_bad_path;
    if (strip_top_level) {
        if (!strip_first_component(name.data())) return result_bad_path;
        name.resize(std::strlen(name.c_str()));
    }
    if (folder && !name.empty()) name.pop_back();
    if ((!folder || !name.empty()) &&
        (name.empty() || !is_safe_entry_name(name.c_str(), windows_rules) ||
         name.back() == '/' || name.back() == '\\'))
        return result_bad_path;
    // This tool opens encrypted archives only.
    if (!encrypted && !folder) return result_not_encrypted;
    to_platform_separators(name.data(), name.data(), name.size());
    try {
        if (destination)
            output = name.empty() ? std::string(destination)
                                  : std::string(destination) + platform::separator + name;
    } catch (const std::bad_alloc&) {
        return result_out_of_memory;
    }

    unsigned char local[local_header_size];
    if (!read_at(archive_.get(), local_offset, local, local_header_size, got) ||
        got < local_header_size || read_u32(local) != local_header_signature)
        return result_not_encrypted;
    // Unwalked local headers must agree with the directory about where the
    // data starts and, unless a descriptor follows it, how long it is.
    if (from_directory && (read_u16(local + 26) != name_length ||
                           (!(read_u16(local + 6) & flag_data_descriptor) &&
                            read_u32(local + 18) != compressed)))
        return result_not_encrypted;
    if (folder) {
        if (destination && !create_folder_chain(output.c_str())) return result_folder_failed;
        return result_ok;
    }
    const std::int64_t data_offset = std::int64_t{local_offset} + local_header_size +
                                     read_u16(local + 26) + read_u16(local + 28);
    if (!platform::seek_to(archive_.get(), data_offset)) return result_not_encrypted;

    EntryCoding coding;
    if (const AeField ae = find_ae_field(extra); ae.valid) {
        coding.strength = ae.strength_byte;
        coding.method = ae.method;
        coding.check_crc = ae.version == 1;
        coding.crc = crc;
    }
    const ResultCode result =
        decode_entry(password, destination ? output.c_str() : nullptr,
                     from_directory ? compressed : read_u32(local + 18), coding, processed, cancel);
    if (result == result_ok && destination) {
        const platform::DosTime when{read_u16(local + 10), read_u16(local + 12)};
        platform::set_file_times(output.c_str(), platform::to_local_time(when));
    }
    return result;
}

ResultCode ArchiveReader::decode_entry(const char* password, const char* output_path,
                                       std::uint32_t compressed_size,
                                       std::atomic<std::uint32_t>& processed,
                                       const std::atomic<bool>& cancel) {
    return decode_entry(password, output_path, compressed_size, EntryCoding{}, processed, cancel);
}

ResultCode ArchiveReader::decode_entry(const char* password, const char* output_path,
                                       std::uint32_t compressed_size, const EntryCoding& coding,
                                       std::atomic<std::uint32_t>& processed,
                                       const std::atomic<bool>& cancel) {
    std::FILE* const archive = archive_.get();
    const auto* pw = reinterpret_cast<const unsigned char*>(password);
    const int strength = coding.strength ? coding.strength : key_strength(std::strlen(password));
    const unsigned int salt_bytes = salt_length(strength);
    // Salt, verifier and code must fit, or the stream length is negative.
    if (compressed_size < salt_bytes + verifier_length + auth_code_length)
        return result_not_encrypted;

    CAesEnc aes;
    unsigned char salt[16], verifier[verifier_length];
    if (!read_exact(archive, salt, salt_bytes) || !read_exact(archive, verifier, verifier_length))
        return result_read_failed;
    if (aes.decrypt_start(pw, salt, verifier, coding.strength) != 0)
        return aes.ok() ? result_bad_password : result_expansion_error;
    if (coding.method != method_deflate && coding.method != method_stored)
        return result_expansion_error;

    std::string parent, temp_path;
    FilePtr output;
    if (output_path) {
        try {
            parent.assign(std::strlen(output_path) + 1, '\0');
        } catch (const std::bad_alloc&) {
            return result_out_of_memory;
        }
        if (!parent_folder(output_path, parent.data(), parent.size())) return result_folder_failed;
        parent.resize(std::strlen(parent.c_str()));
        // Entries come folder by folder: checking the same chain again for
        // every file of a folder costs a lookup per level per file.
        if (parent != ready_folder_) {
            if (!create_folder_chain(parent.c_str())) return result_folder_failed;
            ready_folder_.swap(parent);  // no allocation: parent is not used again
        }
        output = create_temp_beside(output_path, temp_path);
        if (!output) return result_open_output_failed;
    }
    struct RemoveUnlessKept {
        std::string& path;
        ~RemoveUnlessKept() {
            if (!path.empty()) platform::delete_file(path.c_str());
        }
    } remove_temp{temp_path};

    if (!in_) in_.reset(new (std::nothrow) unsigned char[block_size]);
    if (!out_) out_.reset(new (std::nothrow) unsigned char[block_size]);
    if (!in_ || !out_) return result_out_of_memory;

    const std::uint32_t remaining =
        compressed_size - salt_bytes - verifier_length - auth_code_length;
    std::uint32_t crc = 0;
    std::uint32_t* const track = coding.check_crc ? &crc : nullptr;
    ResultCode result =
        coding.method == method_stored
            ? copy_stored(output.get(), remaining, aes, track, processed, cancel)
            : inflate_stream(output.get(), remaining, aes, track, processed, cancel);
    if (output_path && !close_file(output)) result = result_close_failed;
    if (result != result_ok) return result;

    unsigned char code[auth_code_length];
    if (!read_exact(archive, code, auth_code_length) || aes.decrypt_end(code) != 0)
        return result_bad_data;
    // AE-1 keeps the plain data's CRC as well; it is checked only once the
    // code has shown the stream is the one that was written.
    if (coding.check_crc && crc != coding.crc) return result_bad_data;
    if (!output_path) return result_ok;
    // Only an authenticated file takes the target's name.
    if (!platform::replace_file(temp_path.c_str(), output_path)) return result_open_output_failed;
    temp_path.clear();
    return result_ok;
}

ResultCode ArchiveReader::copy_stored(std::FILE* output, std::uint32_t remaining, CAesEnc& aes,
                                      std::uint32_t* crc, std::atomic<std::uint32_t>& processed,
                                      const std::atomic<bool>& cancel) {
    while (remaining > 0) {
        const std::uint32_t piece = remaining < block_size ? remaining : block_size;
        if (!read_exact(archive_.get(), in_.get(), piece)) return result_read_failed;
        aes.decrypt(in_.get(), piece);
        remaining -= piece;
        processed.fetch_add(piece, std::memory_order_relaxed);
        if (crc) *crc = static_cast<std::uint32_t>(::crc32(*crc, in_.get(), piece));
        if (output && !write_exact(output, in_.get(), piece)) return result_write_failed;
        if (cancel.load(std::memory_order_relaxed)) return result_cancelled;
    }
    return result_ok;
}

ResultCode ArchiveReader::inflate_stream(std::FILE* output, std::uint32_t remaining,
                                         CAesEnc& aes, std::uint32_t* crc,
                                         std::atomic<std::uint32_t>& processed,
                                         const std::atomic<bool>& cancel) {
    if (!inflater_.start()) return result_expansion_error;
    auto emit = [&](unsigned int filled) {
        if (crc) *crc = static_cast<std::uint32_t>(::crc32(*crc, out_.get(), filled));
        return !output || write_exact(output, out_.get(), filled);
    };
    z_stream& z = inflater_.stream();
    z.avail_in = 0;
    z.next_out = out_.get();
    z.avail_out = block_size;
    ResultCode result = result_ok;
    while (result == result_ok) {
        if (z.avail_in == 0 && remaining > 0) {
            const std::uint32_t piece = remaining < block_size ? remaining : block_size;
            if (!read_exact(archive_.get(), in_.get(), piece)) result = result_read_failed;
            aes.decrypt(in_.get(), piece);
            z.next_in = in_.get();
            z.avail_in = piece;
            remaining -= piece;
            processed.fetch_add(piece, std::memory_order_relaxed);
        }
        const int status = inflate(&z, Z_NO_FLUSH);
        if (status == Z_STREAM_END) {
            if (!emit(block_size - z.avail_out)) result = result_write_failed;
            break;
        }
        const bool starved = z.avail_in == 0 && remaining == 0 && z.avail_out != 0;
        if ((status != Z_OK && status != Z_BUF_ERROR) || starved) {
            // Corrupt data, or a stream that wants more than the entry holds.
            if (result == result_ok) result = result_expansion_error;
        } else if (z.avail_out == 0) {
            if (!emit(block_size)) result = result_write_failed;
            z.next_out = out_.get();
            z.avail_out = block_size;
        }
        if (cancel.load(std::memory_order_relaxed)) result = result_cancelled;
    }
    return result;
}

ResultCode decrypt_worker(CryptJob& job) {
    job.processed = 0;
    job.total = 0;
    std::unique_ptr<ArchiveReader> reader(new (std::nothrow) ArchiveReader);
    if (!reader) return result_out_of_memory;
    std::uint32_t total = 0;
    for (std::int32_t i = 0; i < job.inputs.count(); ++i) {
        platform::FindData found;
        if (platform::find_path(job.inputs.at(i), found))
            total += static_cast<std::uint32_t>(found.size);
    }
    job.total = total;
    for (std::int32_t i = 0; i < job.inputs.count(); ++i) {
        if (ResultCode r = reader->extract_all(job.inputs.at(i), job.output_path, job.password,
                                               job.processed, job.cancel))
            return r;
    }
    return result_ok;
}

}  // namespace korvane
