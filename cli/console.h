// What the command line needs from the system beyond the platform seam: the
// terminal, interrupts and absolute paths. cli/console_posix.cpp and
// cli/console_win32.cpp implement it.
#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <string_view>

namespace korvane::cli {

// True when stderr is a terminal (a console on Windows), so progress can be
// redrawn in place.
bool stderr_is_terminal();

enum class SecretRead { ok, no_terminal, interrupted, failed, not_in_code_page };

// Shows prompt on stderr and reads one line from the terminal on stdin with
// echo off, without its line end. Stops early when interrupted becomes true.
// On Windows the line is read as UTF-16 and becomes ANSI code-page bytes:
// not_in_code_page when a character has no exact form there.
SecretRead read_secret(const char* prompt, const std::atomic<bool>& interrupted,
                       std::string& secret);

// KORVANE_PASSWORD in the same bytes as the terminal's answer: posix as it
// is, Windows from its UTF-16 form (not_in_code_page as above); no_terminal
// when it is not set.
SecretRead read_password_variable(std::string& value);

// From now on Ctrl-C (SIGINT, SIGTERM, SIGHUP and SIGQUIT; on Windows the
// console control events) sets flag instead of ending the process. False when the handler
// cannot be installed.
bool catch_interrupts(std::atomic<bool>& flag);

// Tells the control handler that the job has ended and cleaned up, so a
// console being closed may now end the process.
void job_finished();

// Writes UTF-8 text (names) to stream: to a Windows console as UTF-16, so
// every script shows; anywhere else (a file, a pipe, a POSIX terminal) as the
// UTF-8 bytes.
void write_text(std::FILE* stream, std::string_view text);

// path made absolute from the current folder, with its parent folder in the
// system's canonical spelling (the last component is kept, so a link keeps
// its own name). The path itself when that fails.
std::string full_path(const std::string& path);

}  // namespace korvane::cli
