// The INI store beside the executable, through the profile functions. The
// file keeps the ANSI code page, as older versions wrote and read it; the
// wide functions find it whatever script its folder's name is in.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include <string>

#include "platform/platform.h"
#include "platform/win32/wide.h"
#include "settings/settings.h"

namespace korvane {

namespace {

constexpr const wchar_t* section = L"default";

std::int32_t read_int(const std::wstring& ini, const wchar_t* key, int fallback) {
    // The profile function hands back the parsed value as unsigned; the
    // record keeps whatever signed integer the file gives.
    return static_cast<std::int32_t>(GetPrivateProfileIntW(section, key, fallback, ini.c_str()));
}

void read_string(const std::wstring& ini, const wchar_t* key, char* out) {
    wchar_t text[settings_path_size] = {};
    GetPrivateProfileStringW(section, key, L"", text, settings_path_size, ini.c_str());
    // 259 units at most, each at most three bytes of UTF-8: out holds them.
    const std::string utf8 = win::narrow(text);
    std::memcpy(out, utf8.c_str(), utf8.size() + 1);
}

void write_int(const std::wstring& ini, const wchar_t* key, std::int32_t value) {
    WritePrivateProfileStringW(section, key, std::to_wstring(value).c_str(), ini.c_str());
}

void write_string(const std::wstring& ini, const wchar_t* key, const char* value) {
    // The profile functions would write a substitute for what the code page
    // lacks: keep the old value instead.
    if (!storable_in_ini(value)) return;
    WritePrivateProfileStringW(section, key, win::widen(value).c_str(), ini.c_str());
}

}  // namespace

bool storable_in_ini(const char* folder) {
    std::string ansi;
    return win::to_ansi(win::widen(folder), ansi);
}

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
    const std::wstring ini = win::widen(s.ini_path);
    s.encrypt_path = read_int(ini, L"encrypt_path", destination_desktop);
    s.encrypt_file = read_int(ini, L"encrypt_file", name_source);
    read_string(ini, L"user_defined_encrypt_path", s.user_defined_encrypt_path);
    s.decrypt_path = read_int(ini, L"decrypt_path", destination_desktop);
    read_string(ini, L"user_defined_decrypt_path", s.user_defined_decrypt_path);
    s.compression_level = read_int(ini, L"compression_level", 6);
}

void load(Settings& s) {
    ini_path_for(platform::executable_path().c_str(), s.ini_path, sizeof s.ini_path);
    load_from_ini(s);
}

bool save(const Settings& s) {
    const std::wstring ini = win::widen(s.ini_path);
    // This order is the order of the keys in a newly written file.
    write_string(ini, L"user_defined_encrypt_path", s.user_defined_encrypt_path);
    write_int(ini, L"encrypt_path", s.encrypt_path);
    write_int(ini, L"encrypt_file", s.encrypt_file);
    write_int(ini, L"decrypt_path", s.decrypt_path);
    write_string(ini, L"user_defined_decrypt_path", s.user_defined_decrypt_path);
    write_int(ini, L"compression_level", s.compression_level);
    return true;
}

}  // namespace korvane
