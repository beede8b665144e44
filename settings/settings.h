// The user's preferences: where encrypted and decrypted files go, how their
// names are formed, how hard to compress. One instance for the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace korvane {

// Path fields keep the platform's limit of 260 characters (UTF-16 units, the
// terminator included): values are cut to 259 on load, as the INI functions
// hand them over. Inside they are UTF-8, at most three bytes a unit.
inline constexpr std::size_t settings_path_size = 260;
inline constexpr std::size_t settings_path_bytes = 3 * (settings_path_size - 1) + 1;

// Destinations (encrypt_path, decrypt_path).
enum : std::int32_t {
    destination_desktop = 0,
    destination_source_folder = 1,
    destination_ask = 2,
    destination_user_folder = 3,
};
// Names of encrypted files (encrypt_file).
enum : std::int32_t {
    name_source = 0,
    name_source_with_date = 1,
    name_ask = 2,
};

struct Settings {
    std::int32_t encrypt_path = destination_desktop;
    char user_defined_encrypt_path[settings_path_bytes] = {};
    std::int32_t encrypt_file = name_source;
    std::int32_t decrypt_path = destination_desktop;
    char user_defined_decrypt_path[settings_path_bytes] = {};
    std::int32_t compression_level = 6;
    char ini_path[settings_path_bytes] = {};  // where load and save go; not stored
};

// The process's settings: only the entry point reads them, loading them at
// start-up and handing them on; the settings dialog writes what it is given.
extern Settings current_settings;

// The folder below the user's application data that holds their settings.
inline constexpr const char* settings_folder_name = "Korvane File";
inline constexpr const char* settings_file_name = "korvane.ini";

// Which INI file the settings live in. An INI beside the program means
// portable mode (the zip's use): it is read and written there. Otherwise
// each user has their own in app_data\Korvane File, which needs no
// administrator to write. Without an application data folder the file
// beside the program is the only place left.
std::string settings_file_path(const std::string& beside_program, bool beside_program_exists,
                               const std::string& app_data);

#ifdef _WIN32
// INI path for an executable: its drive, folder and base name with ".ini".
void ini_path_for(const char* executable, char* out, std::size_t capacity);

// Sets ini_path by settings_file_path (the executable's INI, the roaming
// application data folder), then reads every key. Missing file, section or
// keys give the defaults; values are not validated.
void load(Settings& settings);
// Reads every key from settings.ini_path.
void load_from_ini(Settings& settings);
// Writes every key to settings.ini_path, making its folder first when it
// is missing (a user's first save). The file stays in the ANSI code
// page that older versions read: a folder the code page cannot hold is not
// written at all, never mangled (the settings dialog refuses such folders).
// Write failures are not reported (the record keeps its values); always
// returns true.
bool save(const Settings& settings);
// Whether a UTF-8 folder can be written to the INI file as it is.
bool storable_in_ini(const char* folder);
#endif

}  // namespace korvane
