#include "archive/temp_file.h"

#include <algorithm>

#include "platform/platform.h"

namespace korvane {

namespace {

constexpr std::size_t max_digits = 8;
constexpr char extension[] = ".tmp";
constexpr std::size_t extension_length = sizeof extension - 1;
// A short name leaves few random names; a few collisions are still worth
// another try.
constexpr int attempts = 16;

bool ends_folder_part(char c) {
    // On win32 "C:name" is a name in drive C's current folder.
    return c == '/' || c == platform::separator || (platform::separator == '\\' && c == ':');
}

// Where the last component of path starts.
std::size_t name_start(const std::string& path) {
    std::size_t start = 0;
    for (std::size_t at = 0, n; (n = platform::char_length(path.c_str() + at)) != 0; at += n) {
        if (n == 1 && ends_folder_part(path[at])) start = at + 1;
    }
    return start;
}

std::size_t character_count(const char* s) {
    std::size_t count = 0;
    for (std::size_t n; (n = platform::char_length(s)) != 0; s += n) ++count;
    return count;
}

}  // namespace

FilePtr create_temp_beside(const std::string& target, std::string& temp_path) {
    const std::size_t start = name_start(target);
    // Hex digits are one byte and one character each, never a device name,
    // and with ".tmp" still an 8.3 name.
    const std::size_t characters = character_count(target.c_str() + start);
    const std::size_t digits = std::min(characters, max_digits);
    const bool with_extension = characters >= max_digits + extension_length;
    for (int attempt = 0; digits > 0 && attempt < attempts; ++attempt) {
        unsigned char r[max_digits];
        if (!platform::secure_random(r, digits)) break;
        temp_path.assign(target, 0, start);
        for (std::size_t i = 0; i < digits; ++i) temp_path += "0123456789abcdef"[r[i] & 15];
        if (with_extension) temp_path += extension;
        if (std::FILE* f = platform::create_new_file(temp_path.c_str())) return FilePtr(f);
        // Only a name collision is worth another try.
        platform::FindData found;
        if (!platform::find_path(temp_path.c_str(), found)) break;
    }
    // Creating the target fails when it exists, so an earlier file is kept.
    temp_path = target;
    if (std::FILE* f = platform::create_new_file(target.c_str())) return FilePtr(f);
    temp_path.clear();
    return nullptr;
}

}  // namespace korvane
