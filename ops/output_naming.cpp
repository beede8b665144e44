#include "ops/output_naming.h"

#include <cstdio>
#include <string_view>

namespace korvane {

namespace {

bool is_separator(char c) {
    return c == platform::separator || c == '/';
}

// Where a cut to at most limit bytes ends: after the last character that
// starts at or below the limit, as long as that is inside the name.
template <typename Step>
std::size_t cut_point(std::string_view name, std::size_t limit, Step step) {
    if (name.size() <= limit) return name.size();
    std::size_t keep = 0;
    for (std::size_t at = 0; at < name.size() && at <= limit; at += step(name, at)) keep = at;
    return keep;
}

// A character of the ANSI code page: two bytes after a lead byte, unless the
// name ends there.
std::size_t ansi_step(std::string_view s, std::size_t at) {
    return platform::is_lead_byte(static_cast<unsigned char>(s[at])) && at + 1 < s.size() ? 2 : 1;
}

std::size_t utf8_step(std::string_view s, std::size_t at) {
    return platform::char_length(s.data() + at);
}

// How many bytes of the UTF-8 name the cut keeps. A name the ANSI code page
// holds is measured in its bytes there, so the cut is where older versions
// made it; any other name is cut in its UTF-8 form, at a character start.
std::size_t kept_length(std::string_view name, std::size_t limit) {
    std::string ansi;
    if (!platform::to_ansi_name(name, ansi)) return cut_point(name, limit, utf8_step);
    const std::size_t keep = cut_point(ansi, limit, ansi_step);
    if (keep == ansi.size()) return name.size();
    // A prefix of the ANSI form reads back as a prefix of the name.
    return platform::from_ansi_name(std::string_view(ansi).substr(0, keep)).size();
}

}  // namespace

void truncate_name(char* name, std::size_t limit) {
    name[kept_length(name, limit)] = '\0';
}

void truncate_name(std::string& name, std::size_t limit) {
    name.resize(kept_length(name, limit));
}

SourceParts split_source(const std::string& input) {
    std::string path = input;
    while (path.size() > 1 && is_separator(path.back())) path.pop_back();

    // Last separator (or drive colon) and last dot after it. In UTF-8 no byte
    // of a multi-byte character looks like either, so the components are
    // those of the ANSI form too.
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
    if (!with_date) return base_name + ".cry";
    char stamped[64];
    std::snprintf(stamped, sizeof stamped, "(%4d-%02d-%02d-%02d-%02d)%s", now.year, now.month,
                  now.day, now.hour, now.minute, ".cry");
    return base_name + stamped;
}

std::string output_path_in(const std::string& folder, const std::string& name) {
    // A folder of one separator is the current drive's root: doubling it
    // would name a network share.
    if (folder.size() == 1 && is_separator(folder[0])) return folder + name;
    return folder + platform::separator + name;
}

}  // namespace korvane
