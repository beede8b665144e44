#include "engine/temp_file.h"

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

// Hex digits are one byte and one character each and never a device name.
bool append_random_hex(std::string& s, std::size_t digits) {
    unsigned char r[max_digits];
    if (digits > max_digits || !platform::secure_random(r, digits)) return false;
    for (std::size_t i = 0; i < digits; ++i) s += "0123456789abcdef"[r[i] & 15];
    return true;
}

// Creates the first free name that name_into makes; a failure other than a
// taken name ends the search.
template <typename Name>
FilePtr create_first_free(Name name_into, std::string& path, const char* root) {
    for (int attempt = 0; attempt < attempts; ++attempt) {
        if (!name_into(path)) break;
        if (std::FILE* f = platform::create_new_file(path.c_str(), root)) return FilePtr(f);
        platform::FindData found;
        if (!platform::find_path(path.c_str(), found)) break;
    }
    return nullptr;
}

}  // namespace

FilePtr create_temp_beside(const std::string& target, std::string& temp_path, const char* root) {
    const std::size_t start = name_start(target);
    // With ".tmp" after at most 8 digits the name is still an 8.3 name.
    const std::size_t characters = character_count(target.c_str() + start);
    const std::size_t digits = std::min(characters, max_digits);
    const bool with_extension = characters >= max_digits + extension_length;
    if (digits > 0) {
        FilePtr file = create_first_free(
            [&](std::string& path) {
                path.assign(target, 0, start);
                if (!append_random_hex(path, digits)) return false;
                if (with_extension) path += extension;
                return true;
            },
            temp_path, root);
        if (file) return file;
    }
    // Creating the target fails when it exists, so an earlier file is kept.
    temp_path = target;
    if (std::FILE* f = platform::create_new_file(target.c_str(), root)) return FilePtr(f);
    // An earlier file among names that leave no short one free: a longer
    // name, wherever the file system takes it.
    FilePtr file = create_first_free(
        [&](std::string& path) {
            path = target + '.';
            if (!append_random_hex(path, max_digits)) return false;
            path += extension;
            return true;
        },
        temp_path, root);
    if (!file) temp_path.clear();
    return file;
}

bool identify_new_file(FilePtr& file, std::string& path, platform::FileIdentity& identity,
                       std::optional<std::uint64_t> volume) {
    if (platform::stream_identity(file.get(), identity, volume)) return true;
    file.reset();
    platform::delete_file(path.c_str());
    path.clear();
    return false;
}

}  // namespace korvane
