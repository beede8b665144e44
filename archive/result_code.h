// Outcome of every codec operation and worker: 0 success, 1..17 one failure each.
#pragma once

#include <cstdint>
#include <string>

namespace korvane {

using ResultCode = std::int32_t;

enum : ResultCode {
    result_ok = 0,
    result_bad_password = 1,
    result_bad_data = 2,
    result_cancelled = 3,
    result_compression_error = 4,
    result_expansion_error = 5,
    result_close_failed = 6,
    result_read_failed = 7,
    result_write_failed = 8,
    result_open_output_failed = 9,
    result_input_missing = 10,
    result_not_encrypted = 11,
    result_folder_failed = 12,
    result_out_of_memory = 13,
    result_bad_path = 14,
    result_too_large = 15,
    // A fault of the program itself (an exception no code expected).
    result_internal_error = 16,
    // The archive outgrows the largest file the destination's file system
    // holds (FAT32: 4 GiB less one byte).
    result_file_system_limit = 17,
};

inline constexpr ResultCode result_code_count = 18;

// Why reading an archive failed, in words, where the code alone does not
// say it: the entry at fault (as shown_name gives it; empty when the
// directory as a whole is) and what is wrong with it or the directory.
struct ArchiveFault {
    std::string entry;
    std::string reason;  // empty: the code says it
    // The entry's name has no reading in the code page it was read in;
    // another code page may read it.
    bool name_unreadable = false;
};

// The user-visible text of a failure code; nullptr for 0 and for values
// outside 0..17.
const char* result_message(ResultCode code);

// The fault in one line, as korvane-cli and the lock dialog both show it:
// "entry 'NAME' REASON", or "the archive is refused: REASON"; empty when the
// fault holds nothing.
std::string describe(const ArchiveFault& fault);

}  // namespace korvane
