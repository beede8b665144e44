#include "archive/directory.h"

#include <algorithm>
#include <numeric>

#include "archive/paths.h"
#include "archive/stdio_file.h"
#include "platform/platform.h"

namespace korvane {

namespace {

// Where the end records put the central directory.
struct DirectoryClaim {
    std::int64_t offset = 0;  // the first central record
    std::int64_t end = 0;     // where the records end: the first end record
    std::uint64_t entries = 0;
};

// Whether length bytes from offset lie inside the first limit bytes of the
// file, computed without overflow.
bool inside(std::uint64_t offset, std::uint64_t length, std::uint64_t limit) {
    return offset <= limit && length <= limit - offset;
}

// Deflate gives at most 258 bytes for a match coded in two bits: no stream
// inflates to more than this many times its length.
constexpr std::uint64_t max_deflate_ratio = 1032;

std::string counted(std::uint64_t n) {
    return std::to_string(n) + (n == 1 ? " entry" : " entries");
}

// An end record counting more central records than its directory's bytes
// can hold: one at least has gone.
bool overcounted(std::uint64_t entries, std::uint64_t directory_size, ArchiveFault& fault) {
    fault.reason = "its end record counts " + counted(entries) + ", more than its directory's " +
                   std::to_string(directory_size) + " bytes can hold";
    return false;
}

bool has_zip64_locator(std::FILE* f, std::int64_t end_at) {
    unsigned char bytes[4];
    std::size_t got = 0;
    std::int64_t position = -1;
    return end_at >= std::int64_t{zip64_locator_size} &&
           read_at(f, position, end_at - std::int64_t{zip64_locator_size}, bytes, 4, got) &&
           got == 4 && read_u32(bytes) == zip64_locator_signature;
}

// A field of the end record agrees with the ZIP64 end record when it holds
// the same value, or the marker that sends a reader there.
bool agrees(std::uint64_t classic, std::uint64_t marker, std::uint64_t value) {
    return classic == marker || classic == value;
}

// The ZIP64 end record and its locator, just before the end record at
// end_at, stand in for the end record's values. Trusted as the end record
// is: one disk, the records back to back, the directory ending exactly where
// the ZIP64 end record starts, no more entries than its bytes can hold, and
// every value the end record holds as well the same there.
bool find_zip64_directory(std::FILE* f, std::int64_t end_at, const EndRecord& classic,
                          DirectoryClaim& claim, ArchiveFault& fault) {
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
        end.directory_offset > locator.end_record_offset ||
        end.directory_size != locator.end_record_offset - end.directory_offset)
        return false;
    if (end.entries > end.directory_size / central_record_size)
        return overcounted(end.entries, end.directory_size, fault);
    if (!agrees(classic.disk, zip64_count_marker, end.disk) ||
        !agrees(classic.directory_disk, zip64_count_marker, end.directory_disk) ||
        !agrees(classic.disk_entries, zip64_count_marker, end.disk_entries) ||
        !agrees(classic.entries, zip64_count_marker, end.entries) ||
        !agrees(classic.directory_size, zip64_marker, end.directory_size) ||
        !agrees(classic.directory_offset, zip64_marker, end.directory_offset)) {
        fault.reason = "its end record and its ZIP64 end record disagree about the directory";
        return false;
    }
    claim.offset = static_cast<std::int64_t>(end.directory_offset);
    claim.end = end64_at;
    claim.entries = end.entries;
    return true;
}

// The end record closes the file, followed only by its comment. Only a
// single-disk directory that ends exactly where the end record starts is
// trusted; it may hold no entry at all.
bool find_directory(std::FILE* f, std::int64_t file_size, DirectoryClaim& claim,
                    ArchiveFault& fault) {
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
            return find_zip64_directory(f, at, end, claim, fault);
        if (end.disk != 0 || end.directory_disk != 0 || end.disk_entries != end.entries ||
            std::int64_t{end.directory_offset} + end.directory_size != at)
            return false;
        if (end.entries > end.directory_size / central_record_size)
            return overcounted(end.entries, end.directory_size, fault);
        claim.offset = end.directory_offset;
        claim.end = at;
        claim.entries = end.entries;
        return true;
    }
    return false;
}

// The UTF-8 form of a stored name; the stored bytes when they cannot be read
// as the flags say (decoded is then false).
std::string decoded_name(const std::string& stored, std::uint16_t flags, unsigned code_page,
                         bool& decoded) {
    std::string name;
    decoded =
        platform::path_from_archive_name(stored, (flags & flag_utf8_name) != 0, name, code_page);
    return decoded ? name : stored;
}

// Reads the central records from where the end records say the directory
// starts to where they say it ends: exactly that many, back to back, nothing
// else between them.
bool read_central_records(std::FILE* f, const DirectoryClaim& claim, unsigned code_page,
                          std::uint64_t file_size, std::vector<DirectoryEntry>& entries,
                          ArchiveFault& fault) {
    std::int64_t offset = claim.offset, position = -1;
    std::string extra;
    unsigned char bytes[central_record_size];
    const auto broken_off = [&] {
        fault.reason = "its directory breaks off after " + counted(entries.size()) + " of the " +
                       std::to_string(claim.entries) + " its end record counts";
        return false;
    };
    while (offset < claim.end) {
        std::size_t got = 0;
        DirectoryEntry entry;
        if (!read_at(f, position, offset, bytes, central_record_size, got) ||
            got < central_record_size || !read_central_record(bytes, entry.record))
            return broken_off();
        if (entries.size() == claim.entries) {
            fault.reason = "its directory holds more entries than the " +
                           counted(claim.entries) + " its end record counts";
            return false;
        }
        const CentralRecord& r = entry.record;
        offset +=
            std::int64_t{central_record_size} + r.name_length + r.extra_length + r.comment_length;
        if (offset > claim.end) return broken_off();
        entry.stored.assign(r.name_length, '\0');
        extra.assign(r.extra_length, '\0');
        if (!read_on(f, position, entry.stored.data(), entry.stored.size()) ||
            !read_on(f, position, extra.data(), extra.size()))
            return false;
        entry.name = decoded_name(entry.stored, r.flags, code_page, entry.name_decoded);
        const auto* extra_bytes = reinterpret_cast<const unsigned char*>(extra.data());
        // Sizes and offset past 32 bits are in the ZIP64 field; the data
        // must lie inside the file either way.
        if (!apply_zip64_field(extra_bytes, extra.size(), entry.record,
                               &entry.record.local_header_offset) ||
            !inside(entry.record.local_header_offset, entry.record.compressed_size, file_size))
            return false;
        entry.ae = find_ae_field(extra_bytes, extra.size());
        entries.push_back(std::move(entry));
    }
    if (entries.size() != claim.entries) return broken_off();
    return true;
}

// Whether the entry's data is a deflate stream: as its AE field says, and
// for an encrypted entry without one as for our own.
bool inflates(const DirectoryEntry& e) {
    if (e.ae.valid) return e.ae.method == method_deflate;
    return (e.record.flags & flag_encrypted) != 0 || e.record.method == method_deflate;
}

// Reads each entry's local header, in the order they lie in the file. Each
// must name its entry as the central record does, agree about its sizes
// (unless a data descriptor holds them), and the header and data of no two
// entries may share a byte, nor reach into the directory. A declared size
// that its data cannot inflate to fails here, before any file is made.
bool check_local_headers(std::FILE* f, std::int64_t directory, std::vector<DirectoryEntry>& entries,
                         ArchiveFault& fault) {
    std::vector<std::size_t> order(entries.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return entries[a].record.local_header_offset < entries[b].record.local_header_offset;
    });
    const auto limit = static_cast<std::uint64_t>(directory);
    const DirectoryEntry* previous = nullptr;
    std::uint64_t previous_end = 0;
    std::int64_t position = -1;
    std::string name, extra;
    for (const std::size_t i : order) {
        DirectoryEntry& e = entries[i];
        const CentralRecord& r = e.record;
        const auto refuse = [&](std::string reason) {
            fault.entry = shown_name(e);
            fault.reason = std::move(reason);
            return false;
        };
        if (inflates(e) && r.uncompressed_size / max_deflate_ratio > r.compressed_size)
            return refuse("claims " + std::to_string(r.uncompressed_size) +
                          " bytes, more than its " + std::to_string(r.compressed_size) +
                          " bytes of deflate data can hold");
        const std::uint64_t at = r.local_header_offset;
        if (previous && at < previous_end)
            return refuse("shares bytes of the archive with entry '" + shown_name(*previous) + "'");
        unsigned char bytes[local_header_size];
        std::size_t got = 0;
        LocalHeader local;
        if (at >= limit || !read_at(f, position, static_cast<std::int64_t>(at), bytes,
                                    local_header_size, got) ||
            got < local_header_size || !read_local_header(bytes, local))
            return refuse("has no local header where its central record points");
        name.assign(local.name_length, '\0');
        extra.assign(local.extra_length, '\0');
        if (!read_on(f, position, name.data(), name.size()) ||
            !read_on(f, position, extra.data(), extra.size()) ||
            !apply_zip64_field(reinterpret_cast<const unsigned char*>(extra.data()), extra.size(),
                               local, nullptr))
            return refuse("has a damaged local header");
        if (name != e.stored) return refuse("has another name in its local header");
        if (!(local.flags & flag_data_descriptor) &&
            (local.compressed_size != r.compressed_size ||
             local.uncompressed_size != r.uncompressed_size))
            return refuse("has other sizes in its local header than in the directory");
        const std::uint64_t data = at + local_header_size + local.name_length + local.extra_length;
        if (!inside(data, r.compressed_size, limit))
            return refuse("reaches into the directory or past the end of the archive");
        e.data_offset = data;
        e.local_time = local.time;
        previous = &e;
        previous_end = data + r.compressed_size;
    }
    return true;
}

bool single_top_level(const std::vector<DirectoryEntry>& entries) {
    std::string first;
    for (const DirectoryEntry& e : entries) {
        const std::size_t separator = first_separator(e.name);
        if (separator == std::string::npos) return false;
        std::string key = platform::path_key(std::string_view(e.name).substr(0, separator));
        if (&e == &entries.front()) {
            first = std::move(key);
        } else if (key != first) {
            return false;
        }
    }
    return !entries.empty();
}

}  // namespace

ResultCode read_archive_directory(std::FILE* f, std::uint64_t file_size, unsigned name_code_page,
                                  DirectoryLayout& layout, std::vector<DirectoryEntry>& entries,
                                  ArchiveFault& fault) {
    DirectoryClaim claim;
    if (file_size > static_cast<std::uint64_t>(INT64_MAX) ||
        !find_directory(f, static_cast<std::int64_t>(file_size), claim, fault) ||
        !read_central_records(f, claim, name_code_page, file_size, entries, fault) ||
        !check_local_headers(f, claim.offset, entries, fault))
        return result_not_encrypted;
    layout.single_top_level = single_top_level(entries);
    return result_ok;
}

std::size_t first_separator(std::string_view name) {
    // In UTF-8 a byte '\' is always the character itself.
    return name.find_first_of(windows_name_rules() ? "/\\" : "/");
}

std::string shown_name(const DirectoryEntry& entry) {
    std::string shown;
    for (const char c : entry.name_decoded ? entry.name : entry.stored) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            shown += '?';
        } else if (byte >= 0x80 && !entry.name_decoded) {
            static constexpr char hex[] = "0123456789ABCDEF";
            shown += "\\x";
            shown += hex[byte >> 4];
            shown += hex[byte & 15];
        } else {
            shown += c;
        }
    }
    return shown;
}

}  // namespace korvane
