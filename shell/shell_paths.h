// The paths the shell integration works on, formed once at start-up by the
// entry point and handed to whatever needs them.
#pragma once

#include <cstddef>

namespace korvane {

inline constexpr std::size_t shell_path_size = 260;  // the platform path limit

struct ShellPaths {
    // The running executable, read once at start-up.
    char executable_path[shell_path_size] = {};
    // Desktop "Lock File.lnk" and "Unlock File.lnk". Empty when the desktop
    // folder cannot be resolved: every shortcut operation then fails.
    char lock_shortcut_path[shell_path_size] = {};
    char unlock_shortcut_path[shell_path_size] = {};
    // kvnmenu.dll beside the executable. Empty when it would not fit.
    char menu_library_path[shell_path_size] = {};
    // kvnmenu64.dll beside it, for 64-bit hosts. Empty when it would not fit.
    char menu_library64_path[shell_path_size] = {};
};

// Resolves the desktop folder and reads the executable's path, then forms
// every path from them.
ShellPaths form_shell_paths();

// The pieces, with explicit inputs. An empty or null desktop gives empty
// shortcut paths, as does a result longer than the path limit.
void form_shortcut_paths(const char* desktop, ShellPaths& paths);
// Sets executable_path and both library paths from an executable's full path.
void form_library_path(const char* executable, ShellPaths& paths);

// The desktop special folder's file-system path; false, with out empty, when
// it cannot be resolved. out holds shell_path_size bytes.
bool desktop_folder(char* out);

// Drive and folder of path up to and including its last separator, stepping
// over double-byte characters ("C:" for "C:name", empty without either).
// False, with out empty, when out cannot hold it.
bool drive_and_folder(const char* path, char* out, std::size_t capacity);

}  // namespace korvane
