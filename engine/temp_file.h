// Temporary files beside a target, so that the final rename stays on one
// volume and is atomic.
#pragma once

#include <string>

#include "archive/stdio_file.h"
#include "platform/platform.h"

namespace korvane {

// Creates a new file in target's folder under a random name that is never
// longer than target's own name, in bytes or in characters, so that every
// target the file system accepts has one: up to 8 hex digits, with ".tmp"
// when the name has room for it. When no such name is free (a one-character
// name has 16) the target itself is created, provided it does not exist yet
// (temp_path then equals target); an existing target is kept and a name 13
// bytes longer tried instead. Sets temp_path; nullptr when no file can be
// created. Given a root, no folder below it may be a link
// (platform::create_new_file).
FilePtr create_temp_beside(const std::string& target, std::string& temp_path,
                           const char* root = nullptr);

// The identity of a file just made under path, asked through its own
// stream, so that cleaning up later deletes only that file. When the handle
// cannot tell (never seen), the file is closed and taken back by name a
// moment after it was made, path is cleared, and the answer is false.
// volume, when known, is that of the folder it was made in (stream_identity).
bool identify_new_file(FilePtr& file, std::string& path, platform::FileIdentity& identity,
                       std::optional<std::uint64_t> volume = std::nullopt);

}  // namespace korvane
