// The name-forming rules for job outputs that need no question to the user:
// the source folder and base name of an input, the encrypted file's name with
// or without a date stamp, and the cut older versions made to names.
#pragma once

#include <cstddef>
#include <string>

#include "platform/platform.h"

namespace korvane {

// Cuts the UTF-8 name in place to at most limit bytes, never inside a
// character. A name the ANSI code page holds is measured in that code page's
// bytes (its double-byte characters whole); any other name in UTF-8 bytes.
void truncate_name(char* name, std::size_t limit);
void truncate_name(std::string& name, std::size_t limit);

struct SourceParts {
    // Drive and directory without the final separator: "E:" for a file in
    // E's root, empty for one in the current drive's root ("\notes.txt").
    std::string folder;
    std::string base_name;    // last component without its last extension
    std::string extension;    // from the last dot of the last component (".cry"), or empty
    bool has_folder = false;  // false for a bare name such as "notes.txt"
};

// Splits an input path the way the C runtime's path splitting does: the
// base name ends at the last dot of the last component. Trailing separators
// are ignored, so "E:\data\Photos\" names the folder Photos.
SourceParts split_source(const std::string& input);

// The whole base name: "Quarterly report.cry", or with a date stamp
// "Quarterly report(2007-03-05-09-07).cry". (Older versions cut it to 8
// bytes, "Quarterl.cry", which named no file the user would recognise.)
std::string encrypted_file_name(const std::string& base_name, bool with_date,
                                const platform::LocalTime& now);

// folder + separator + name; the folder is used as given, so one that ends
// in a separator gives a doubled separator, which file systems accept. Only
// a lone separator (the current drive's root) is not doubled: a path that
// starts with two names a network share.
std::string output_path_in(const std::string& folder, const std::string& name);

}  // namespace korvane
