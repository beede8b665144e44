// Fuzz targets as plain functions: libFuzzer entry points call them in the
// fuzz build, and the corpus replay test calls them in every build.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvane::fuzz {

// The passwords fuzzed archives are tried with (and the seeds use), one per
// key strength: the first entry's strength byte picks one, so seeds of every
// strength get past the password check.
inline constexpr const char* passwords[3] = {
    "fuzz password",                                            // 13 bytes: AES-128
    "fuzz password of forty bytes, for AES192",                 // 40 bytes: AES-192
    "fuzz password of fifty-six bytes, for the AES-256 key ok",  // 56 bytes: AES-256
};
inline constexpr const char* password = passwords[0];
const char* password_for(const std::uint8_t* data, std::size_t size);

// The bytes as an archive: extracted into a scratch destination.
int reader_target(const std::uint8_t* data, std::size_t size);
// The bytes as an archive: listed and tested without writing.
int scan_target(const std::uint8_t* data, std::size_t size);
// A valid, correctly encrypted archive around a fuzzed entry name and a
// fuzzed raw deflate stream, so inflate and the name checks are reached.
int crafted_target(const std::uint8_t* data, std::size_t size);
// The bytes as a command line.
int command_line_target(const std::uint8_t* data, std::size_t size);

// Aborts with a message: a fuzzer or the replay test then reports the input.
[[noreturn]] void fail(const char* what);
inline void check(bool ok, const char* what) {
    if (!ok) fail(what);
}

}  // namespace korvane::fuzz
