// The INI store beside the executable, through the profile functions.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <string>

#include "platform/platform.h"
#include "settings/settings.h"

namespace korvane {

namespace {

constexpr const char* section = "default";

std::int32_t read_int(const Settings& s, const char* key, int fallback) {
    // The profile function hands back the parsed value as unsigned; the
    // record keeps whatever signed integer the file gives.
    return static_cast<std::int32_t>(GetPrivateProfileIntA(section, key, fallback, s.ini_path));
}

void read_string(const Settings& s, const char* key, char* out) {
    GetPrivateProfileStringA(section, key, "", out, settings_path_size, s.ini_path);
}

void write_int(const Settings& s, const char* key, std::int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    WritePrivateProfileStringA(section, key, text, s.ini_path);
}

}  // namespace

void ini_path_for(const char* executable, char* out, std::size_t capacity) {
    // Drop the extension of the last component; a trail byte 0x5C of a
    // double-byte character is not a separator.
    std::size_t stem = std::strlen(executable);
    std::size_t dot = std::string::npos;
    for (const char* p = executable; *p; p += platform::char_length(p)) {
        if (*p == '\\' || *p == '/' || *p == ':') dot = std::string::npos;
        else if (*p == '.') dot = static_cast<std::size_t>(p - executable);
    }
    if (dot != std::string::npos) stem = dot;
    std::snprintf(out, capacity, "%.*s.ini", static_cast<int>(stem), executable);
}

void load_from_ini(Settings& s) {
    s.encrypt_path = read_int(s, "encrypt_path", destination_desktop);
    s.encrypt_file = read_int(s, "encrypt_file", name_source);
    read_string(s, "user_defined_encrypt_path", s.user_defined_encrypt_path);
    s.decrypt_path = read_int(s, "decrypt_path", destination_desktop);
    read_string(s, "user_defined_decrypt_path", s.user_defined_decrypt_path);
    s.compression_level = read_int(s, "compression_level", 6);
}

void load(Settings& s) {
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, sizeof exe);
    ini_path_for(exe, s.ini_path, sizeof s.ini_path);
    load_from_ini(s);
}

bool save(const Settings& s) {
    // This order is the order of the keys in a newly written file.
    WritePrivateProfileStringA(section, "user_defined_encrypt_path", s.user_defined_encrypt_path,
                               s.ini_path);
    write_int(s, "encrypt_path", s.encrypt_path);
    write_int(s, "encrypt_file", s.encrypt_file);
    write_int(s, "decrypt_path", s.decrypt_path);
    WritePrivateProfileStringA(section, "user_defined_decrypt_path", s.user_defined_decrypt_path,
                               s.ini_path);
    write_int(s, "compression_level", s.compression_level);
    return true;
}

}  // namespace korvane
