// The ".cry" container: a single-disk ZIP archive whose entries are raw
// deflate streams encrypted in the AE-2 layout. All integers little-endian.
// ZIP64 records appear only where a value does not fit its field, so an
// archive within the 32-bit and 16-bit limits has the classic layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace korvane {

inline constexpr std::uint32_t local_header_signature = 0x04034B50;
inline constexpr std::uint32_t central_record_signature = 0x02014B50;
inline constexpr std::uint32_t end_record_signature = 0x06054B50;
inline constexpr std::uint32_t zip64_end_record_signature = 0x06064B50;
inline constexpr std::uint32_t zip64_locator_signature = 0x07064B50;

inline constexpr std::size_t local_header_size = 30;
inline constexpr std::size_t central_record_size = 46;
inline constexpr std::size_t end_record_size = 22;
inline constexpr std::size_t ae_extra_size = 11;
inline constexpr std::size_t zip64_end_record_size = 56;
inline constexpr std::size_t zip64_locator_size = 20;
// A local header's ZIP64 field: both sizes, always.
inline constexpr std::size_t zip64_local_extra_size = 20;

inline constexpr std::uint16_t method_aes = 99;
inline constexpr std::uint16_t method_deflate = 8;
inline constexpr std::uint16_t method_stored = 0;
inline constexpr std::uint16_t version_needed = 20;
inline constexpr std::uint16_t version_needed_zip64 = 45;

inline constexpr std::uint16_t flag_encrypted = 1;
inline constexpr std::uint16_t flag_data_descriptor = 8;
// The name is UTF-8; without it, bytes of the writer's code page.
inline constexpr std::uint16_t flag_utf8_name = 0x800;
inline constexpr std::uint16_t ae_extra_id = 0x9901;
inline constexpr std::uint16_t zip64_extra_id = 0x0001;

// A 32-bit field holding this (a 16-bit one 0xFFFF) says the value is in the
// ZIP64 records; so does any value that does not fit below it.
inline constexpr std::uint32_t zip64_marker = 0xFFFFFFFF;
inline constexpr std::uint16_t zip64_count_marker = 0xFFFF;

// Stream pieces: deflate output and cipher calls both use this block size.
inline constexpr std::size_t block_size = 16384;

// The 16-bit name length field bounds a name.
inline constexpr std::size_t max_name_length = 0xFFFF;

// General-purpose flags: bit 0 encrypted; bits 1-2 the deflate speed option.
std::uint16_t general_flags(int level);

std::uint16_t read_u16(const unsigned char* p);
std::uint32_t read_u32(const unsigned char* p);
std::uint64_t read_u64(const unsigned char* p);
void put_u16(unsigned char* p, std::uint16_t v);
void put_u32(unsigned char* p, std::uint32_t v);

// What the writer knows about one entry when it writes its headers.
struct EntryInfo {
    std::string name;  // stored name, '/' separated, in the bytes flags say
    std::uint16_t flags = 1;
    platform::DosTime time;
    std::uint64_t compressed_size = 0;
    std::uint64_t uncompressed_size = 0;
    std::uint32_t attributes = 0;
    std::uint64_t local_header_offset = 0;
    int strength = 1;
    // The local header is written before the data, so whether its sizes fit
    // is decided from a bound: with this set it holds them in a ZIP64 field.
    bool zip64_local = false;
    // A folder: its name ends in '/', and it is stored without data or
    // encryption (method 0, no AE field), as every reader takes a folder.
    bool folder = false;
};

// Whether an entry of this many bytes may deflate and encrypt to 4 GiB or
// more, so that its local header needs the ZIP64 field.
bool local_header_needs_zip64(std::uint64_t file_size);

// Bytes of the local header and its extra fields.
std::size_t local_header_length(const EntryInfo& entry);
// Appends the local header, the ZIP64 field when zip64_local, and the AE
// extra field (30 + n + 11 bytes without ZIP64).
void append_local_header(std::string& out, const EntryInfo& entry);
// Appends the central record, a ZIP64 field with whichever of the sizes and
// offset do not fit 32 bits, and the AE extra field (46 + n + 11 bytes
// when all fit).
void append_central_record(std::string& out, const EntryInfo& entry);
// Appends the end record (22 bytes), preceded by the ZIP64 end record and
// its locator when a value does not fit the end record's fields. The
// directory ends where these records start.
void append_end_record(std::string& out, std::uint64_t entries, std::uint64_t directory_size,
                       std::uint64_t directory_offset);

// What a local header and a central record both hold, in the same order,
// from the general-purpose flags to the extra field's length.
struct EntryFields {
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    platform::DosTime time;
    std::uint32_t crc = 0;
    // As the 32-bit fields say, until apply_zip64_field replaces markers.
    std::uint64_t compressed_size = 0;
    std::uint64_t uncompressed_size = 0;
    std::uint16_t name_length = 0;
    std::uint16_t extra_length = 0;
};

// The fixed part of a local header as read back; the name and the extra
// field follow it.
struct LocalHeader : EntryFields {};

// The fixed part of a central record as read back; the name, the extra
// field and the comment follow it.
struct CentralRecord : EntryFields {
    std::uint16_t comment_length = 0;
    std::uint32_t attributes = 0;
    std::uint64_t local_header_offset = 0;
};

struct EndRecord {
    std::uint16_t disk = 0;
    std::uint16_t directory_disk = 0;
    std::uint16_t disk_entries = 0;
    std::uint16_t entries = 0;
    std::uint32_t directory_size = 0;
    std::uint32_t directory_offset = 0;
    std::uint16_t comment_length = 0;
};

// Each parses the fixed bytes (local_header_size, central_record_size,
// end_record_size of them) and is false when they do not start with the
// record's signature.
bool read_local_header(const unsigned char* bytes, LocalHeader& header);
bool read_central_record(const unsigned char* bytes, CentralRecord& record);
bool read_end_record(const unsigned char* bytes, EndRecord& record);

// Whether the end record says the ZIP64 end record holds its values.
bool end_record_defers_to_zip64(const EndRecord& record);

// The ZIP64 end record's fixed part (zip64_end_record_size bytes).
struct Zip64EndRecord {
    std::uint64_t record_size = 0;  // of what follows this field
    std::uint32_t disk = 0;
    std::uint32_t directory_disk = 0;
    std::uint64_t disk_entries = 0;
    std::uint64_t entries = 0;
    std::uint64_t directory_size = 0;
    std::uint64_t directory_offset = 0;
};
bool read_zip64_end_record(const unsigned char* bytes, Zip64EndRecord& record);

// The locator (zip64_locator_size bytes) just before the end record.
struct Zip64Locator {
    std::uint32_t disk = 0;
    std::uint64_t end_record_offset = 0;
    std::uint32_t disks = 0;
};
bool read_zip64_locator(const unsigned char* bytes, Zip64Locator& locator);

// Replaces each of the record's fields that holds the 32-bit marker with its
// value from the ZIP64 extra field, in the field's order (uncompressed
// size, compressed size, then the offset when one is given). False when a
// marked value is missing from it.
bool apply_zip64_field(const unsigned char* extra, std::size_t length, EntryFields& fields,
                       std::uint64_t* local_header_offset);

// The AE extra field of an entry, found among other tools' fields.
struct AeField {
    int strength_byte = 0;  // 1..3 when the field holds one, whatever else it says
    bool valid = false;     // version 1 or 2, vendor "AE", strength 1..3
    int version = 0;
    std::uint16_t method = 0;  // the actual compression method
};
AeField find_ae_field(const unsigned char* extra, std::size_t length);

}  // namespace korvane
