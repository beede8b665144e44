// The one argument of a worker: what to process, and the counters and cancel
// flag it shares with whoever shows the progress (dialog or CLI).
#pragma once

#include <atomic>
#include <cstdint>

#include "app/input_list.h"
#include "archive/result_code.h"

namespace korvane {

struct CryptJob {
    const InputList& inputs;
    const char* output_path;  // the archive to create, or the folder to extract into
    const char* password;     // NUL-terminated, 1 to 63 bytes
    std::atomic<std::uint32_t>& processed;
    std::atomic<std::uint32_t>& total;
    std::atomic<bool>& cancel;
};

// Worker bodies. Each sets processed and total to 0 first, sets total before
// processing data, adds to processed as it goes, tests cancel after every
// block, never touches inputs, password or output path, and returns 0 or the
// first failure's code.
ResultCode encrypt_worker(CryptJob& job);
ResultCode decrypt_worker(CryptJob& job);

}  // namespace korvane
