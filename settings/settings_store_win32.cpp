// The INI store, through the profile functions: the user's own file in the
// roaming application data folder, or the one beside the executable in
// portable mode. The file keeps the ANSI code page, as older versions wrote
// and read it; the wide functions find it whatever script its folder's name
// is in.
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>

#include <string>

#include "platform/platform.h"
#include "platform/win32/scoped_win.h"
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

// The roaming application data folder, or empty when the shell has none.
std::string roaming_app_data() {
    PWSTR raw = nullptr;
    const HRESULT found = SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &raw);
    // The buffer is the caller's to free even when the call fails.
    const win::ScopedTaskMem<wchar_t> folder(raw);
    if (FAILED(found) || !folder) return {};
    return win::narrow(folder.get());
}

// The folder of the INI file, made when missing; a failure shows at the
// first write, which then leaves the record's values unsaved.
void make_folder_of(const char* ini) {
    char folder[settings_path_bytes];
    std::snprintf(folder, sizeof folder, "%s", ini);
    char* last = nullptr;
    for (char* p = folder; *p; p += platform::char_length(p))
        if (*p == '\\' || *p == '/') last = p;
    if (!last || last == folder) return;
    *last = '\0';
    if (!platform::folder_exists(folder)) platform::create_folder(folder);
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
    char beside[settings_path_bytes];
    ini_path_for(platform::executable_path().c_str(), beside, sizeof beside);
    platform::FindData found;
    const bool portable = platform::find_path(beside, found) && !found.is_folder;
    const std::string path = settings_file_path(beside, portable, roaming_app_data());
    // A per-user path too long for the record falls back to the program's.
    const char* chosen = path.size() < sizeof s.ini_path ? path.c_str() : beside;
    std::snprintf(s.ini_path, sizeof s.ini_path, "%s", chosen);
    load_from_ini(s);
}

bool save(const Settings& s) {
    make_folder_of(s.ini_path);
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
