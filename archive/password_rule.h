// The passwords a job takes, and the words that refuse any other; the lock
// dialog and korvane-cli both check them before a job starts.
#pragma once

#include <cstddef>

namespace korvane {

// 63 bytes is the longest password; 48 and more select AES-256.
inline constexpr std::size_t max_password_length = 63;

inline constexpr const char* password_length_message = "Input a password of within 63 characters.";

// Archives are keyed with the password's bytes in the ANSI code page; a
// character it has no exact form for would silently become another one.
inline constexpr const char* password_code_page_message =
    "The password holds a character that this system's code page cannot hold.";

constexpr bool password_length_ok(std::size_t length) {
    return length >= 1 && length <= max_password_length;
}

}  // namespace korvane
