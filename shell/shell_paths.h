// The paths the shell integration works on, formed once at start-up by the
// entry point and handed to whatever needs them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace korvane {

// The platform path limit, in UTF-16 units with the terminator.
inline constexpr std::size_t shell_path_size = 260;
// Room for such a path as UTF-8: at most three bytes for each unit.
inline constexpr std::size_t shell_path_bytes = 3 * (shell_path_size - 1) + 1;

// Every path is UTF-8.
struct ShellPaths {
    // The running executable, read once at start-up.
    char executable_path[shell_path_bytes] = {};
    // Desktop "Lock File.lnk" and "Unlock File.lnk". Empty when the desktop
    // folder cannot be resolved: every shortcut operation then fails.
    char lock_shortcut_path[shell_path_bytes] = {};
    char unlock_shortcut_path[shell_path_bytes] = {};
    // kvnmenu.dll beside the executable. Empty when it would not fit.
    char menu_library_path[shell_path_bytes] = {};
    // kvnmenu64.dll beside it, for 64-bit hosts. Empty when it would not fit.
    char menu_library64_path[shell_path_bytes] = {};
};

// Whether a UTF-8 path keeps within the platform path limit.
bool fits_path_limit(std::string_view path);

// Resolves the desktop folder and reads the executable's path, then forms
// every path from them. The shortcuts are where this installation put them:
// on the common desktop when the package installed this copy, else on the
// user's own.
ShellPaths form_shell_paths();

// Where the package records the folder it installed into (HKLM, the
// program's own registry view); the package's tables name the same key.
inline constexpr const char* package_key = "Software\\Korvane File";
inline constexpr const char* package_folder_value = "InstallDir";

// Whether the executable is the copy the package installed: its folder is
// the recorded one, as the file system compares names. Empty never matches.
bool installed_by_package(const char* executable, const std::string& package_folder);

// The folder the package recorded, or empty when there is none.
std::string package_folder();

// The pieces, with explicit inputs. An empty or null desktop gives empty
// shortcut paths, as does a result longer than the path limit.
void form_shortcut_paths(const char* desktop, ShellPaths& paths);
// Sets executable_path and both library paths from an executable's full path.
void form_library_path(const char* executable, ShellPaths& paths);

// The desktop special folder's file-system path (the user's, or with common
// every user's); empty when it cannot be resolved.
std::string desktop_folder(bool common = false);

// Drive and folder of path up to and including its last separator, stepping
// over multi-byte characters ("C:" for "C:name", empty without either).
// False, with out empty, when out cannot hold it.
bool drive_and_folder(const char* path, char* out, std::size_t capacity);

}  // namespace korvane
