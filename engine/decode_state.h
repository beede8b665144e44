// What a thread decoding entries holds, shared by the reader and the pipeline
// that lends a big entry a second thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "archive/result_code.h"
#include "archive/stdio_file.h"
#include "archive/zstreams.h"

namespace korvane {

class CAesEnc;
class FolderBook;
class CommittedFiles;
class FailureMark;
class TaskPool;

// What one thread decoding an archive's entries holds: its own stream on the
// archive, the password and the key strength it selects, the caller's
// counters and cancel flag (set by each public entry point), the blocks and
// inflater every entry reuses, and where the files' folders are made.
struct DecodeState {
    std::unique_ptr<char[]> archive_buffer;  // outlives the stream that uses it
    FilePtr archive;
    std::int64_t position = -1;  // where the stream is, when known
    const char* password = "";
    int strength = 1;  // the password's; an entry's AE field may name another
    std::atomic<std::uint64_t>* processed = nullptr;
    const std::atomic<bool>* cancel = nullptr;
    // Set when the job gives up on entries after a failed one.
    const FailureMark* failures = nullptr;
    std::unique_ptr<unsigned char[]> in, out;
    Inflater inflater;
    FolderBook* folders = nullptr;  // none: each chain is made afresh
    std::size_t entry = 0;          // the entry being decoded, for the folder book
    // The files the extraction has committed so far; none: not asked.
    const CommittedFiles* committed = nullptr;
    // Lends a big entry a second thread; none: every entry on one.
    TaskPool* pool = nullptr;

    // The next length bytes of the entry's stream into block, authenticated
    // and decrypted, and counted as processed; 4 when they cannot be read.
    ResultCode read_block(CAesEnc& aes, unsigned char* block, unsigned int length);
    // Plain data out: into crc when one is kept, then into output if any; 6
    // when it cannot be written.
    static ResultCode write_block(std::FILE* output, std::uint32_t* crc, const unsigned char* block,
                                  unsigned int length);
    // True once the job is cancelled or has given up on the entry: tested
    // after every block, on every thread that decodes it.
    bool stopping() const;
};

// The job gave up on this entry: a failure before it ends the extraction.
bool given_up(const DecodeState& s);

}  // namespace korvane
