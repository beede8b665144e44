// Where the password comes from (--password-file, KORVANE_PASSWORD, the
// terminal) and the rules it must meet before a job starts.
#pragma once

#include <atomic>
#include <string>

#include "cli/options.h"

namespace korvane::cli {

// Exit statuses of refusals, after sysexits.h; outside the result codes.
inline constexpr int exit_usage = 64;
inline constexpr int exit_data = 65;
inline constexpr int exit_no_input = 66;
inline constexpr int exit_cannot_create = 73;

// lock asks twice and takes ASCII only; unlock and test ask once and take
// the bytes as given.
enum class PasswordUse { lock, open };

// 0 with password set, or the exit status after the reason went to stderr
// (3 when Ctrl-C ended the prompt).
int obtain_password(const Options& options, PasswordUse use, const std::atomic<bool>& interrupted,
                    std::string& password);

}  // namespace korvane::cli
