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

#include "archive/format.h"
#include "archive/result_code.h"
#include "archive/stdio_file.h"
#include "engine/chunk_encoder.h"
#include "engine/crypt_job.h"
#include "platform/platform.h"

namespace korvane {

class ArchiveWriter {
public:
    ArchiveWriter() = default;
    ~ArchiveWriter();  // discards an archive that was not committed
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;

    // Creates the temporary file for the archive that commit() will move to
    // path. 9 when it cannot be created, 13 without memory.
    ResultCode open(const char* path);
    // Appends one entry and its central record. 10 when the file is gone.
    // The job gives the password, strength, level, counters and cancel flag.
    ResultCode add_file(const char* path, const char* stored_name, const CryptJob& job);

    // The headers of the entry for a file (or a folder) found as found: 15
    // for a name longer than 65535 bytes.
    static ResultCode describe_entry(const char* stored_name, const platform::FindData& found,
                                     const CryptJob& job, EntryInfo& entry);
    // Writes the next chunk of the entry being added, chunks in order: the
    // first writes the header, salt and verifier (the whole entry without a
    // seek when it is the only chunk), the last the authentication code, the
    // sizes and the central record. Takes the cipher from the first chunk.
    ResultCode add_chunk(const EntryInfo& entry, std::uint32_t chunk, std::uint32_t chunks,
                         ChunkResult& piece);
    // Adds a folder's entry (describe_entry of a folder): its headers and
    // nothing else, unencrypted, as every reader takes a folder.
    ResultCode add_folder(const EntryInfo& entry);
    // Writes the central directory and the end record and closes the file
    // (exactly once); 6 on failure.
    ResultCode finish();
    // The largest archive the destination's file system holds: any write
    // past it fails with 17, and the archive is discarded. open() asks the
    // file system; tests may lower it.
    std::uint64_t file_limit() const { return file_limit_; }
    void set_file_limit(std::uint64_t bytes) { file_limit_ = bytes; }
    // Moves the finished archive over the output path; 9 on failure.
    ResultCode commit();
    // Closes and deletes the temporary file.
    void discard();

    // The temporary file being written (empty when none): a folder walk
    // must not take it, or the output, as an input.
    const std::string& temp_path() const { return temp_path_; }

private:
    // 8 when the stream fails, 17 past the file limit.
    ResultCode write(const void* data, std::size_t length);
    // Encrypts the bytes in place and writes them.
    ResultCode write_encrypted(std::vector<unsigned char>& bytes);
    // Lists a fully written entry in the central directory, which then starts
    // where the file now ends.
    ResultCode record_entry(const EntryInfo& done);

    FilePtr archive_;
    std::string output_path_, temp_path_;
    platform::FileIdentity temp_identity_;  // as the handle that made it told
    std::string directory_;  // central records, back to back
    std::uint64_t entries_ = 0;
    std::uint64_t directory_offset_ = 0;
    std::uint64_t position_ = 0;  // kept here: asking the stream costs a call
    std::uint64_t file_limit_ = UINT64_MAX;
    bool finished_ = false;
    // The entry being added.
    std::unique_ptr<CAesEnc> aes_;
    std::uint64_t entry_start_ = 0;
    ChunkScratch scratch_;  // add_file's
};

}  // namespace korvane
