#include "ops/output_naming.h"

#include <cstdio>
#include <cstring>

namespace korvane {

namespace {

bool is_separator(char c) {
    return c == platform::separator || c == '/';
}

}  // namespace

void truncate_name(char* name, std::size_t limit) {
    if (std::strlen(name) <= limit) return;
    std::size_t keep = 0;
    for (std::size_t at = 0; name[at] && at <= limit;) {
        keep = at;
        at += platform::char_length(name + at);
    }
    // The loop stops on the last character start at or below the limit.
    name[keep] = '\0';
}

void truncate_name(std::string& name, std::size_t limit) {
    truncate_name(name.data(), limit);
    name.resize(std::strlen(name.c_str()));
}

SourceParts split_source(const std::string& input) {
    std::string path = input;
    while (path.size() > 1 && is_separator(path.back())) path.pop_back();

    // Last separator (or drive colon) and last dot after it, stepping over
    // double-byte characters whose second byte may look like a separator.
    std::size_t name_start = 0, dot = std::string::npos, last_separator = std::string::npos;
    for (std::size_t at = 0; at < path.size(); at += platform::char_length(path.c_str() + at)) {
        const char c = path[at];
        if (is_separator(c) || (c == ':' && platform::separator == '\\')) {
            name_start = at + 1;
            dot = std::string::npos;
            if (c != ':') last_separator = at;
        } else if (c == '.') {
            dot = at;
        }
    }
    SourceParts parts;
    const std::size_t name_end = dot == std::string::npos ? path.size() : dot;
    parts.base_name = path.substr(name_start, name_end - name_start);
    parts.extension = path.substr(name_end);
    if (last_separator != std::string::npos) {
        // Empty for "\notes.txt": the output path then starts with one
        // separator, where two would name a network share.
        parts.folder = path.substr(0, last_separator);
        parts.has_folder = true;
    } else if (name_start > 0) {
        parts.folder = path.substr(0, name_start);  // "E:notes.txt": the drive
        parts.has_folder = true;
    }
    return parts;
}

std::string encrypted_file_name(const std::string& base_name, bool with_date,
                                const platform::LocalTime& now) {
    std::string name = base_name;
    truncate_name(name, output_name_limit);
    if (!with_date) return name + ".cry";
    char stamped[64];
    std::snprintf(stamped, sizeof stamped, "(%4d-%02d-%02d-%02d-%02d)%s", now.year, now.month,
                  now.day, now.hour, now.minute, ".cry");
    return name + stamped;
}

std::string decrypted_folder_name(const std::string& base_name) {
    std::string name = base_name;
    truncate_name(name, output_name_limit);
    return name;
}

std::string output_path_in(const std::string& folder, const std::string& name) {
    // A folder of one separator is the current drive's root: doubling it
    // would name a network share.
    if (folder.size() == 1 && is_separator(folder[0])) return folder + name;
    return folder + platform::separator + name;
}

}  // namespace korvane
