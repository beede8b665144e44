// What the lock dialog tells the user after a job: the texts of success and
// failure, the message box they appear in, and the way to the result in
// Explorer.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "archive/result_code.h"

namespace korvane {

inline constexpr const char* program_caption = "Korvane File";

// A message box captioned with the program's name; text is UTF-8.
int show_message(HWND owner, const std::string& text, UINT flags);

// Opens each result's folder in Explorer with the results selected. Tests
// put their own in its place.
using ShowInFolder = bool (*)(const std::vector<std::string>& paths);
bool show_in_explorer(const std::vector<std::string>& paths);

// "Encryption has completed successfully." with the paths written, and the
// offer to show them.
std::string success_text(const char* direction, const std::vector<std::string>& written);

// What a failed job had to say beyond its code.
struct FailureDetail {
    std::string refused_path;  // the file, folder or input at fault
    ArchiveFault fault;        // decryption: the entry at fault and why
    // Decryption: where the failing archive was being restored, and how many
    // files are there; restored < 0 when the folder held files before.
    std::string destination;
    long long restored = -1;
    std::vector<std::string> done;  // archives restored in full before it
};

// "Decryption has failed.\n<the code's message>" and the lines that name
// what failed and why.
std::string failure_text(const char* direction, ResultCode result, const FailureDetail& detail);

// The system's own words for why path cannot be read or listed now; empty
// when it can.
std::string system_reason(const std::string& path);

// Files below folder; -1 when it cannot be walked.
long long count_files(const std::string& folder);

}  // namespace korvane
