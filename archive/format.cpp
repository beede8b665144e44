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

// From the version needed to extract on, a local header and a central
// record hold the same fields.
void append_entry_fields(std::string& out, const EntryInfo& e) {
    append_u16(out, version_needed);
    append_u16(out, e.flags);
    append_u16(out, method_aes);
    append_u16(out, e.time.time);
    append_u16(out, e.time.date);
    append_u32(out, 0);  // CRC: AE-2 authenticates instead
    append_u32(out, e.compressed_size);
    append_u32(out, e.uncompressed_size);
    append_u16(out, static_cast<std::uint16_t>(e.name.size()));
    append_u16(out, ae_extra_size);
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

void append_local_header(std::string& out, const EntryInfo& e) {
    append_u32(out, local_header_signature);
    append_entry_fields(out, e);
    out += e.name;
    append_ae_extra(out, e.strength);
}

void append_central_record(std::string& out, const EntryInfo& e) {
    append_u32(out, central_record_signature);
    append_u16(out, version_needed);  // version made by
    append_entry_fields(out, e);
    append_u16(out, 0);  // comment length
    append_u16(out, 0);  // disk number start
    append_u16(out, 0);  // internal attributes
    append_u32(out, e.attributes);
    append_u32(out, e.local_header_offset);
    out += e.name;
    append_ae_extra(out, e.strength);
}

void append_end_record(std::string& out, std::uint16_t entries, std::uint32_t directory_size,
                       std::uint32_t directory_offset) {
    append_u32(out, end_record_signature);
    append_u16(out, 0);
    append_u16(out, 0);
    append_u16(out, entries);
    append_u16(out, entries);
    append_u32(out, directory_size);
    append_u32(out, directory_offset);
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
