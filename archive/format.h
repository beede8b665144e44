// The ".cry" container: a single-disk ZIP archive whose entries are raw
// deflate streams encrypted in the AE-2 layout. All integers little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace korvane {

inline constexpr std::uint32_t local_header_signature = 0x04034B50;
inline constexpr std::uint32_t central_record_signature = 0x02014B50;
inline constexpr std::uint32_t end_record_signature = 0x06054B50;

inline constexpr std::size_t local_header_size = 30;
inline constexpr std::size_t central_record_size = 46;
inline constexpr std::size_t end_record_size = 22;
inline constexpr std::size_t ae_extra_size = 11;

inline constexpr std::uint16_t method_aes = 99;
inline constexpr std::uint16_t method_deflate = 8;
inline constexpr std::uint16_t version_needed = 20;

// Stream pieces: deflate output and cipher calls both use this block size.
inline constexpr std::size_t block_size = 16384;

// The 16-bit name length and entry count fields bound what one archive holds.
inline constexpr std::size_t max_name_length = 0xFFFF;
inline constexpr std::size_t max_entries = 0xFFFF;

// General-purpose flags: bit 0 encrypted; bits 1-2 the deflate speed option.
std::uint16_t general_flags(int level);

std::uint16_t read_u16(const unsigned char* p);
std::uint32_t read_u32(const unsigned char* p);
void put_u16(unsigned char* p, std::uint16_t v);
void put_u32(unsigned char* p, std::uint32_t v);

// What the writer knows about one entry when it writes its headers.
struct EntryInfo {
    std::string name;  // stored name, '/' separated
    std::uint16_t flags = 1;
    platform::DosTime time;
    std::uint32_t compressed_size = 0;
    std::uint32_t uncompressed_size = 0;
    std::uint32_t attributes = 0;
    std::uint32_t local_header_offset = 0;
    int strength = 1;
};

// Appends the local header and AE extra field (30 + n + 11 bytes).
void append_local_header(std::string& out, const EntryInfo& entry);
// Appends the central record and AE extra field (46 + n + 11 bytes).
void append_central_record(std::string& out, const EntryInfo& entry);
// Appends the 22-byte end record.
void append_end_record(std::string& out, std::uint16_t entries, std::uint32_t directory_size,
                       std::uint32_t directory_offset);

}  // namespace korvane
