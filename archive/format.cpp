#include "archive/format.h"

namespace korvane {

std::uint16_t general_flags(int level) {
    switch (level) {
        case 1: return 7;
        case 2: return 5;
        case 8: case 9: return 3;
        default: return 1;
    }
}

std::uint16_t read_u16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t read_u32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint64_t read_u64(const unsigned char* p) {
    return read_u32(p) | (std::uint64_t{read_u32(p + 4)} << 32);
}

void put_u16(unsigned char* p, std::uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void put_u32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

namespace {

void append_u16(std::string& out, std::uint16_t v) {
    unsigned char b[2];
    put_u16(b, v);
    out.append(reinterpret_cast<const char*>(b), 2);
}

void append_u32(std::string& out, std::uint32_t v) {
    unsigned char b[4];
    put_u32(b, v);
    out.append(reinterpret_cast<const char*>(b), 4);
}

void append_u64(std::string& out, std::uint64_t v) {
    append_u32(out, static_cast<std::uint32_t>(v));
    append_u32(out, static_cast<std::uint32_t>(v >> 32));
}

bool fits_32(std::uint64_t v) {
    return v < zip64_marker;
}

// The 32-bit field's value: the marker when the ZIP64 field holds it.
std::uint32_t field_32(std::uint64_t v, bool in_zip64) {
    return in_zip64 ? zip64_marker : static_cast<std::uint32_t>(v);
}

// The ZIP64 field of a central record: what does not fit, in field order.
std::string central_zip64_values(const EntryInfo& e) {
    std::string values;
    if (!fits_32(e.uncompressed_size)) append_u64(values, e.uncompressed_size);
    if (!fits_32(e.compressed_size)) append_u64(values, e.compressed_size);
    if (!fits_32(e.local_header_offset)) append_u64(values, e.local_header_offset);
    return values;
}

// From the version needed to extract on, a local header and a central
// record hold the same fields; zip64 says the sizes are in the ZIP64 field.
void append_entry_fields(std::string& out, const EntryInfo& e, bool zip64_sizes,
                         std::size_t zip64_extra) {
    append_u16(out, zip64_extra ? version_needed_zip64 : version_needed);
    append_u16(out, e.flags);
    append_u16(out, e.folder ? method_stored : method_aes);
    append_u16(out, e.time.time);
    append_u16(out, e.time.date);
    append_u32(out, 0);  // CRC: AE-2 authenticates instead
    append_u32(out, field_32(e.compressed_size, zip64_sizes || !fits_32(e.compressed_size)));
    append_u32(out, field_32(e.uncompressed_size, zip64_sizes || !fits_32(e.uncompressed_size)));
    append_u16(out, static_cast<std::uint16_t>(e.name.size()));
    append_u16(out, static_cast<std::uint16_t>((e.folder ? 0 : ae_extra_size) + zip64_extra));
}

// The same fields read back from the flags on: byte 6 of a local header,
// byte 8 of a central record.
void read_entry_fields(const unsigned char* b, EntryFields& f) {
    f.flags = read_u16(b);
    f.method = read_u16(b + 2);
    f.time = {read_u16(b + 4), read_u16(b + 6)};
    f.crc = read_u32(b + 8);
    f.compressed_size = read_u32(b + 12);
    f.uncompressed_size = read_u32(b + 16);
    f.name_length = read_u16(b + 20);
    f.extra_length = read_u16(b + 22);
}

void append_ae_extra(std::string& out, int strength) {
    append_u16(out, ae_extra_id);
    append_u16(out, 7);
    append_u16(out, 2);  // vendor version: AE-2, no CRC
    out += "AE";
    out += static_cast<char>(strength);
    // Level 0 still writes a deflate stream (stored blocks), so the actual
    // method is deflate at every level.
    append_u16(out, method_deflate);
}

}  // namespace

bool local_header_needs_zip64(std::uint64_t file_size) {
    // Deflate grows incompressible data by a few bytes per block, each chunk
    // adds a flush marker, and salt, verifier and code add at most 28 bytes:
    // a size over 1/1024 of the file and 64 bytes per chunk is ample.
    const std::uint64_t chunks = (file_size >> 18) + 1;
    const std::uint64_t bound = file_size + (file_size >> 10) + 64 * chunks + 64;
    return !fits_32(bound);
}

std::size_t local_header_length(const EntryInfo& e) {
    return local_header_size + e.name.size() + (e.folder ? 0 : ae_extra_size) +
           (e.zip64_local ? zip64_local_extra_size : 0);
}

void append_local_header(std::string& out, const EntryInfo& e) {
    append_u32(out, local_header_signature);
    append_entry_fields(out, e, e.zip64_local, e.zip64_local ? zip64_local_extra_size : 0);
    out += e.name;
    if (e.zip64_local) {
        append_u16(out, zip64_extra_id);
        append_u16(out, 16);
        append_u64(out, e.uncompressed_size);
        append_u64(out, e.compressed_size);
    }
    if (!e.folder) append_ae_extra(out, e.strength);
}

void append_central_record(std::string& out, const EntryInfo& e) {
    const std::string zip64 = central_zip64_values(e);
    const std::size_t zip64_extra = zip64.empty() ? 0 : 4 + zip64.size();
    append_u32(out, central_record_signature);
    append_u16(out, zip64_extra ? version_needed_zip64 : version_needed);  // version made by
    append_entry_fields(out, e, false, zip64_extra);
    append_u16(out, 0);  // comment length
    append_u16(out, 0);  // disk number start
    append_u16(out, 0);  // internal attributes
    append_u32(out, e.attributes);
    append_u32(out, field_32(e.local_header_offset, !fits_32(e.local_header_offset)));
    out += e.name;
    if (zip64_extra) {
        append_u16(out, zip64_extra_id);
        append_u16(out, static_cast<std::uint16_t>(zip64.size()));
        out += zip64;
    }
    if (!e.folder) append_ae_extra(out, e.strength);
}

void append_end_record(std::string& out, std::uint64_t entries, std::uint64_t directory_size,
                       std::uint64_t directory_offset) {
    const bool entries_fit = entries < zip64_count_marker;
    if (!entries_fit || !fits_32(directory_size) || !fits_32(directory_offset)) {
        append_u32(out, zip64_end_record_signature);
        append_u64(out, zip64_end_record_size - 12);
        append_u16(out, version_needed_zip64);  // version made by
        append_u16(out, version_needed_zip64);
        append_u32(out, 0);  // this disk
        append_u32(out, 0);  // the directory's disk
        append_u64(out, entries);
        append_u64(out, entries);
        append_u64(out, directory_size);
        append_u64(out, directory_offset);

        append_u32(out, zip64_locator_signature);
        append_u32(out, 0);  // the ZIP64 end record's disk
        append_u64(out, directory_offset + directory_size);
        append_u32(out, 1);  // disks in all
    }
    const std::uint16_t count = entries_fit ? static_cast<std::uint16_t>(entries) : zip64_count_marker;
    append_u32(out, end_record_signature);
    append_u16(out, 0);
    append_u16(out, 0);
    append_u16(out, count);
    append_u16(out, count);
    append_u32(out, field_32(directory_size, !fits_32(directory_size)));
    append_u32(out, field_32(directory_offset, !fits_32(directory_offset)));
    append_u16(out, 0);
}

bool read_local_header(const unsigned char* b, LocalHeader& h) {
    if (read_u32(b) != local_header_signature) return false;
    read_entry_fields(b + 6, h);
    return true;
}

bool read_central_record(const unsigned char* b, CentralRecord& r) {
    if (read_u32(b) != central_record_signature) return false;
    read_entry_fields(b + 8, r);
    r.comment_length = read_u16(b + 32);
    r.attributes = read_u32(b + 38);
    r.local_header_offset = read_u32(b + 42);
    return true;
}

bool read_end_record(const unsigned char* b, EndRecord& r) {
    if (read_u32(b) != end_record_signature) return false;
    r.disk = read_u16(b + 4);
    r.directory_disk = read_u16(b + 6);
    r.disk_entries = read_u16(b + 8);
    r.entries = read_u16(b + 10);
    r.directory_size = read_u32(b + 12);
    r.directory_offset = read_u32(b + 16);
    r.comment_length = read_u16(b + 20);
    return true;
}

bool end_record_defers_to_zip64(const EndRecord& r) {
    return r.entries == zip64_count_marker || r.disk_entries == zip64_count_marker ||
           r.directory_size == zip64_marker || r.directory_offset == zip64_marker;
}

bool read_zip64_end_record(const unsigned char* b, Zip64EndRecord& r) {
    if (read_u32(b) != zip64_end_record_signature) return false;
    r.record_size = read_u64(b + 4);
    r.disk = read_u32(b + 16);
    r.directory_disk = read_u32(b + 20);
    r.disk_entries = read_u64(b + 24);
    r.entries = read_u64(b + 32);
    r.directory_size = read_u64(b + 40);
    r.directory_offset = read_u64(b + 48);
    return true;
}

bool read_zip64_locator(const unsigned char* b, Zip64Locator& l) {
    if (read_u32(b) != zip64_locator_signature) return false;
    l.disk = read_u32(b + 4);
    l.end_record_offset = read_u64(b + 8);
    l.disks = read_u32(b + 16);
    return true;
}

bool apply_zip64_field(const unsigned char* extra, std::size_t length, EntryFields& f,
                       std::uint64_t* offset) {
    std::uint64_t* const marked[] = {
        f.uncompressed_size == zip64_marker ? &f.uncompressed_size : nullptr,
        f.compressed_size == zip64_marker ? &f.compressed_size : nullptr,
        offset && *offset == zip64_marker ? offset : nullptr,
    };
    if (!marked[0] && !marked[1] && !marked[2]) return true;
    for (std::size_t at = 0; at + 4 <= length;) {
        const std::uint16_t id = read_u16(extra + at), size = read_u16(extra + at + 2);
        if (at + 4 + size > length) return false;
        if (id == zip64_extra_id) {
            const unsigned char* value = extra + at + 4;
            const unsigned char* const end = value + size;
            for (std::uint64_t* field : marked) {
                if (!field) continue;
                if (end - value < 8) return false;
                *field = read_u64(value);
                value += 8;
            }
            return true;
        }
        at += 4 + std::size_t{size};
    }
    return false;
}

AeField find_ae_field(const unsigned char* extra, std::size_t length) {
    AeField ae;
    // Fields are walked by their lengths; the first AE field counts.
    for (std::size_t at = 0; at + 4 <= length;) {
        const std::uint16_t id = read_u16(extra + at), size = read_u16(extra + at + 2);
        if (id == ae_extra_id && size >= 7 && at + 4 + size <= length) {
            const unsigned char* f = extra + at + 4;
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
        at += 4 + std::size_t{size};
    }
    return ae;
}

}  // namespace korvane
