// The one argument of a worker: what to process and how, and the counters
// and cancel flag it shares with whoever shows the progress (dialog or CLI).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "archive/result_code.h"

namespace korvane {

// The file a job works on now, for whoever shows its progress: set by the
// job's own thread, read from any other.
class CurrentItem {
  public:
    void set(const std::string& name);
    std::string get() const;

  private:
    mutable std::mutex mutex_;
    std::string name_;
};

struct CryptJob {
    // The key strength follows from the password's length, once for the job.
    CryptJob(std::vector<std::string> inputs, std::string output_path, std::string password,
             int level, std::atomic<std::uint64_t>& processed, std::atomic<std::uint64_t>& total,
             std::atomic<bool>& cancel);

    const std::vector<std::string> inputs;  // files and folders, or the archives to extract
    const std::string output_path;          // the archive to create, or the folder to extract into
    const std::string password;             // 1 to 63 bytes, no NUL
    const int level;                        // deflate level 0..9 (encryption only)
    const int strength;                     // 1 AES-128, 2 AES-192, 3 AES-256
    std::atomic<std::uint64_t>& processed;
    std::atomic<std::uint64_t>& total;
    std::atomic<bool>& cancel;
    // Lock: the input file being read; unlock: the entry being extracted.
    CurrentItem current;
    // Threads the job may use: 0 one per processor. Any number leaves the
    // same archive or the same files, and fails or cancels the same way.
    int workers = 0;
    // The code page of names stored without the UTF-8 flag (932 for
    // Shift-JIS); 0 reads them as this build always has (the ANSI code page
    // on win32, the bytes as they are natively).
    unsigned name_code_page = 0;
    // Set by the job's own thread when one file, folder or link is why the
    // job failed, as the program spells it: with result_bad_path its name,
    // with result_read_failed a file that could not be read or a folder that
    // could not be listed; with result_input_missing an input that is gone;
    // unlock, with 9 or 12, a link in the destination that an entry would
    // have had to write through or replace.
    std::string refused_path;
    // With result_bad_path and refused_path an input: the earlier input that
    // would be stored under the same name.
    std::string same_name_as;
    // Set by encrypt_worker: inputs (earlier one first) stored under names
    // that Windows would take for one (WindowsNameMerges). The archive is
    // written all the same: it restores whole where names keep their case.
    std::vector<std::pair<std::string, std::string>> windows_merges;
    // Set by decrypt_worker when an archive's directory or one of its entries
    // is why the job failed.
    ArchiveFault fault;
};

// Worker bodies. Each sets processed and total to 0 first, sets total before
// processing data, adds to processed as it goes, and returns 0 or the first
// failure's code. Cancel is tested after every block a thread deflates or
// decodes, the last one too; not while the job's thread writes chunks already
// deflated, nor for an entry without data (a folder, an empty stored file).
ResultCode encrypt_worker(CryptJob& job);
ResultCode decrypt_worker(CryptJob& job);

}  // namespace korvane
