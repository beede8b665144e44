// The passwords a job takes, and the words that refuse any other; the lock
// dialog and korvane-cli both check them before a job starts.
#pragma once

#include <cstddef>

namespace korvane {

// 63 bytes is the longest password; 48 and more select AES-256.
inline constexpr std::size_t max_password_length = 63;

inline constexpr const char* password_length_message = "Input a password of within 63 characters.";

constexpr bool password_length_ok(std::size_t length) {
    return length >= 1 && length <= max_password_length;
}

}  // namespace korvane
