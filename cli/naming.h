// Default output names of korvane-cli, and the input spelling it hands to
// the workers.
#pragma once

#include <string>

namespace korvane::cli {

// path without separators at its end; a root ("/", "\", "C:\") keeps its
// own. Steps over double-byte characters, whose second byte may be 0x5C.
std::string without_trailing_separators(const std::string& path);

// The default archive for a first input: its base name (no last extension,
// not cut; the whole name when that leaves nothing) plus ".cry"; for "." or
// ".." the real folder's own name; for a root "archive.cry". The input must
// exist.
std::string default_archive_name(const std::string& input);

// The default extraction folder: the archive's base name, as above.
std::string default_destination(const std::string& archive);

}  // namespace korvane::cli
