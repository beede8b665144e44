// What an archive's directory says about its entries, read before any
// entry is extracted: where the central records are, each record with its
// name decoded, and whether every name shares one first component.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "archive/format.h"
#include "archive/result_code.h"

namespace korvane {

// One central record with its name and AE field, parsed once.
struct DirectoryEntry {
    CentralRecord record;
    std::string name;          // UTF-8, '/' separated, unchecked
    bool name_decoded = true;  // false: flagged UTF-8 but not, kept as stored
    AeField ae;
};

// Where the entries are and how they are read.
struct DirectoryLayout {
    std::int64_t offset = 0;      // the first central record
    bool from_directory = false;  // the local headers could not be walked
    bool single_top_level = false;
    // Known only from the end records (from_directory): the central records
    // must end exactly there and be this many.
    std::int64_t end = 0;
    std::uint64_t entries = 0;
    unsigned name_code_page = 0;  // of unflagged names; 0 as the platform reads them
    // Every offset and size is checked against it.
    std::uint64_t file_size = 0;
};

// Reads the directory of the archive f, file_size bytes long, into layout
// and entries: the local headers are walked up to the central records or,
// when they cannot be walked, the end record leads there. Names without the
// UTF-8 flag are read in name_code_page (0: as the platform reads them).
// 11 when the archive is none of ours or is damaged.
ResultCode read_archive_directory(std::FILE* f, std::uint64_t file_size, unsigned name_code_page,
                                  DirectoryLayout& layout, std::vector<DirectoryEntry>& entries);

// Whether length bytes from offset lie inside a file of file_size bytes,
// computed without overflow.
inline bool inside(std::uint64_t offset, std::uint64_t length, std::uint64_t file_size) {
    return offset <= file_size && length <= file_size - offset;
}

}  // namespace korvane
