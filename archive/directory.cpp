#include "archive/directory.h"

#include <algorithm>

#include "archive/paths.h"
#include "archive/stdio_file.h"
#include "platform/platform.h"

namespace korvane {

namespace {

// The UTF-8 form of a stored name; the stored bytes when they cannot be read
// as the flags say (decoded is then false).
std::string decoded_name(const std::string& stored, std::uint16_t flags, unsigned code_page,
                         bool& decoded) {
    std::string name;
    decoded =
        platform::path_from_archive_name(stored, (flags & flag_utf8_name) != 0, name, code_page);
    return decoded ? name : stored;
}

// Tracks whether every name seen so far shares one first component, as the
// file system compares names: first holds that component's path key.
void note_top_level(std::string name, std::size_t index, bool& single, std::string& first) {
    if (!cut_at_first_separator(name.data())) {
        single = false;
    } else if (index == 0) {
        single = true;
        first = platform::path_key(name.c_str());
    } else if (single && platform::path_key(name.c_str()) != first) {
        single = false;
    }
}

// Steps through the local headers up to the central directory; every step
// moves past at least one header, so the walk ends at the end of the file.
// 11 also for a header announcing a data descriptor: its sizes are not in the
// header, so only the central directory can tell where the entry ends.
ResultCode walk_local_headers(std::FILE* f, DirectoryLayout& layout) {
    std::int64_t offset = 0, position = -1;
    std::string first_top, name, extra;
    unsigned char bytes[local_header_size];
    layout.single_top_level = false;
    for (std::size_t index = 0;; ++index) {
        std::size_t got = 0;
        if (!read_at(f, position, offset, bytes, local_header_size, got))
            return result_not_encrypted;
        if (got >= 4 && read_u32(bytes) == central_record_signature) break;
        LocalHeader header;
        if (got < local_header_size || !read_local_header(bytes, header) ||
            (header.flags & flag_data_descriptor))
            return result_not_encrypted;
        name.assign(header.name_length, '\0');
        extra.assign(header.extra_length, '\0');
        if (!read_on(f, position, name.data(), name.size()) ||
            !read_on(f, position, extra.data(), extra.size()) ||
            !apply_zip64_field(reinterpret_cast<const unsigned char*>(extra.data()), extra.size(),
                               header, nullptr))
            return result_not_encrypted;
        bool decoded = false;
        note_top_level(decoded_name(name, header.flags, layout.name_code_page, decoded), index,
                       layout.single_top_level, first_top);
        const std::uint64_t data = static_cast<std::uint64_t>(offset) + local_header_size +
                                   header.name_length + header.extra_length;
        if (!inside(data, header.compressed_size, layout.file_size)) return result_not_encrypted;
        offset = static_cast<std::int64_t>(data + header.compressed_size);
    }
    layout.offset = offset;
    return result_ok;
}

bool has_zip64_locator(std::FILE* f, std::int64_t end_at) {
    unsigned char bytes[4];
    std::size_t got = 0;
    std::int64_t position = -1;
    return end_at >= std::int64_t{zip64_locator_size} &&
           read_at(f, position, end_at - std::int64_t{zip64_locator_size}, bytes, 4, got) &&
           got == 4 && read_u32(bytes) == zip64_locator_signature;
}

// The ZIP64 end record and its locator, just before the end record at
// end_at, stand in for the end record's values. Trusted as the end record
// is: one disk, the records back to back, the directory ending exactly where
// the ZIP64 end record starts, and no more entries than its bytes can hold.
bool find_zip64_directory(std::FILE* f, std::int64_t end_at, DirectoryLayout& layout) {
    if (end_at < std::int64_t{zip64_locator_size + zip64_end_record_size}) return false;
    const std::int64_t locator_at = end_at - std::int64_t{zip64_locator_size};
    unsigned char bytes[zip64_end_record_size];
    std::size_t got = 0;
    std::int64_t position = -1;
    Zip64Locator locator;
    if (!read_at(f, position, locator_at, bytes, zip64_locator_size, got) ||
        got != zip64_locator_size || !read_zip64_locator(bytes, locator) || locator.disk != 0 ||
        locator.disks > 1 ||
        locator.end_record_offset >
            static_cast<std::uint64_t>(locator_at) - zip64_end_record_size)
        return false;
    const auto end64_at = static_cast<std::int64_t>(locator.end_record_offset);
    Zip64EndRecord end;
    if (!read_at(f, position, end64_at, bytes, zip64_end_record_size, got) ||
        got != zip64_end_record_size || !read_zip64_end_record(bytes, end) ||
        end.record_size != static_cast<std::uint64_t>(locator_at - end64_at) - 12 ||
        end.disk != 0 || end.directory_disk != 0 || end.disk_entries != end.entries ||
        end.entries == 0 || end.directory_offset > locator.end_record_offset ||
        end.directory_size != locator.end_record_offset - end.directory_offset ||
        end.entries > end.directory_size / central_record_size)
        return false;
    layout.offset = static_cast<std::int64_t>(end.directory_offset);
    layout.end = end64_at;
    layout.entries = end.entries;
    return true;
}

// The end record closes the file, followed only by its comment. Only a
// single-disk directory with at least one entry that ends exactly where the
// end record starts is trusted.
bool find_directory(std::FILE* f, std::int64_t file_size, DirectoryLayout& layout) {
    const std::int64_t span = std::min<std::int64_t>(file_size, end_record_size + 0xFFFF);
    if (span < std::int64_t{end_record_size}) return false;
    std::string tail(static_cast<std::size_t>(span), '\0');
    auto* t = reinterpret_cast<unsigned char*>(tail.data());
    std::size_t got = 0;
    std::int64_t position = -1;
    if (!read_at(f, position, file_size - span, t, tail.size(), got) || got != tail.size())
        return false;
    for (std::int64_t i = span - std::int64_t{end_record_size}; i >= 0; --i) {
        EndRecord end;
        if (!read_end_record(t + i, end) ||
            i + std::int64_t{end_record_size} + end.comment_length != span)
            continue;
        const std::int64_t at = file_size - span + i;
        // Some writers add the ZIP64 records when every value fits as well:
        // then the directory ends where they start.
        if (end_record_defers_to_zip64(end) || has_zip64_locator(f, at))
            return find_zip64_directory(f, at, layout);
        if (end.disk != 0 || end.directory_disk != 0 || end.disk_entries != end.entries ||
            end.entries == 0 || std::int64_t{end.directory_offset} + end.directory_size != at ||
            end.entries > end.directory_size / central_record_size)
            return false;
        layout.offset = end.directory_offset;
        layout.end = at;
        layout.entries = end.entries;
        return true;
    }
    return false;
}

// Reads every central record up to the end record. They are all read before
// the first entry is extracted, so a damaged directory extracts nothing.
ResultCode read_directory(std::FILE* f, DirectoryLayout& layout,
                          std::vector<DirectoryEntry>& entries) {
    std::int64_t offset = layout.offset, position = -1;
    std::string first_top, extra;
    unsigned char bytes[central_record_size];
    for (std::size_t index = 0;; ++index) {
        std::size_t got = 0;
        if (!read_at(f, position, offset, bytes, central_record_size, got))
            return result_not_encrypted;
        // The end records are shorter than a central record: test them first.
        if (got >= 4 && (read_u32(bytes) == end_record_signature ||
                         read_u32(bytes) == zip64_end_record_signature))
            break;
        DirectoryEntry entry;
        if (got < central_record_size || !read_central_record(bytes, entry.record))
            return result_not_encrypted;
        const CentralRecord& r = entry.record;
        entry.name.assign(r.name_length, '\0');
        extra.assign(r.extra_length, '\0');
        if (!read_on(f, position, entry.name.data(), entry.name.size()) ||
            !read_on(f, position, extra.data(), extra.size()))
            return result_not_encrypted;
        entry.name = decoded_name(entry.name, r.flags, layout.name_code_page, entry.name_decoded);
        const auto* extra_bytes = reinterpret_cast<const unsigned char*>(extra.data());
        // Sizes and offset past 32 bits are in the ZIP64 field; the data
        // must lie inside the file either way.
        if (!apply_zip64_field(extra_bytes, extra.size(), entry.record,
                               &entry.record.local_header_offset) ||
            !inside(entry.record.local_header_offset, entry.record.compressed_size,
                    layout.file_size))
            return result_not_encrypted;
        entry.ae = find_ae_field(extra_bytes, extra.size());
        if (layout.from_directory)
            note_top_level(entry.name, index, layout.single_top_level, first_top);
        offset +=
            std::int64_t{central_record_size} + r.name_length + r.extra_length + r.comment_length;
        entries.push_back(std::move(entry));
    }
    if (layout.from_directory && (offset != layout.end || entries.size() != layout.entries))
        return result_not_encrypted;
    return result_ok;
}

}  // namespace

ResultCode read_archive_directory(std::FILE* f, std::uint64_t file_size, unsigned name_code_page,
                                  DirectoryLayout& layout, std::vector<DirectoryEntry>& entries) {
    layout.name_code_page = name_code_page;
    layout.file_size = file_size;
    const ResultCode walked = walk_local_headers(f, layout);
    if (walked == result_not_encrypted) {
        if (!find_directory(f, static_cast<std::int64_t>(file_size), layout))
            return result_not_encrypted;
        layout.from_directory = true;
    } else if (walked != result_ok) {
        return walked;
    }
    return read_directory(f, layout, entries);
}

}  // namespace korvane
