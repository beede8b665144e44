// What an archive claims about its entries, checked before any entry is
// extracted: the end records against each other, the central records
// against the count and the place the end records give, every local header
// against its central record, and the entries' bytes against each other.
// The central directory is the one source of names; a local header only says
// where its entry's data starts.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "archive/format.h"
#include "archive/result_code.h"
#include "platform/platform.h"

namespace korvane {

// One entry as its central record describes it, with what its local header
// adds once checked.
struct DirectoryEntry {
    CentralRecord record;
    std::string stored;        // the name's bytes as the archive holds them
    std::string name;          // UTF-8, '/' separated, unchecked
    bool name_decoded = true;  // false: not readable as the flags say; name is stored
    AeField ae;
    std::uint64_t data_offset = 0;  // past the local header
    platform::DosTime local_time;   // the local header's, which the file is dated by
};

struct DirectoryLayout {
    // Every name holds a separator and shares its first component, as the
    // file system compares names: that component is dropped on extraction.
    bool single_top_level = false;
};

// Reads and checks the directory of the archive f, file_size bytes long.
// Names without the UTF-8 flag are read in name_code_page (0: as the
// platform reads them). 11 for a file that is no archive, or one whose
// records contradict each other; fault then says why, when words help.
ResultCode read_archive_directory(std::FILE* f, std::uint64_t file_size, unsigned name_code_page,
                                  DirectoryLayout& layout, std::vector<DirectoryEntry>& entries,
                                  ArchiveFault& fault);

// Where a name's first component ends: at its first '/' or, where the file
// system takes '\' for a separator too, its first single-byte '\'. npos
// when it has none. Natively '\' is a byte of the name (a Shift-JIS trail
// byte, say), so the top folder is split where the output path splits.
std::size_t first_separator(std::string_view name);

// The entry's name for a message: control bytes as '?', and a name that
// could not be decoded with its other bytes outside ASCII as \xHH.
std::string shown_name(const DirectoryEntry& entry);

}  // namespace korvane
