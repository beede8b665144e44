// Writes one ".cry" archive: entries are added one file at a time, the
// central directory grows in memory and is written once at the end.
//
// The archive is built in a temporary file beside the output and moved over
// the output only by commit(), so a failed or cancelled job leaves an earlier
// file of that name exactly as it was.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "archive/crypt_job.h"
#include "archive/result_code.h"
#include "archive/stdio_file.h"
#include "archive/zstreams.h"

namespace korvane {

// Scratch state one job reuses for every entry: two stream blocks and the
// deflate state.
struct EncodeScratch {
    std::unique_ptr<unsigned char[]> in, out;
    Deflater deflater;
};

// Writes the entry data (salt, verifier, encrypted deflate stream,
// authentication code) for one file at the archive's current position, with
// the job's password, key strength and level, counting into its counters.
ResultCode encode_entry(const CryptJob& job, const char* source_path, std::FILE* archive,
                        EncodeScratch& scratch);

class ArchiveWriter {
public:
    ArchiveWriter() = default;
    ~ArchiveWriter();  // discards an archive that was not committed
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;

    // Creates the temporary file for the archive that commit() will move to
    // path. 9 when it cannot be created, 13 without memory.
    ResultCode open(const char* path);
    // Appends one entry and its central record. 10 when the file is gone, 15
    // for a file of 4 GiB or more or an archive past its 32-bit or 16-bit
    // limits.
    // The job gives the password, strength, level, counters and cancel flag.
    ResultCode add_file(const char* path, const char* stored_name, const CryptJob& job);
    // Writes the central directory and the end record and closes the file
    // (exactly once); 6 on failure.
    ResultCode finish();
    // Moves the finished archive over the output path; 9 on failure.
    ResultCode commit();
    // Closes and deletes the temporary file.
    void discard();

    // The temporary file being written (empty when none): a folder walk
    // must not take it, or the output, as an input.
    const std::string& temp_path() const { return temp_path_; }

private:
    FilePtr archive_;
    std::string output_path_, temp_path_;
    std::string directory_;  // central records, back to back
    std::uint16_t entries_ = 0;
    std::uint32_t directory_offset_ = 0;
    bool finished_ = false;
    EncodeScratch scratch_;
};

}  // namespace korvane
