#include "shell/shell_paths.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "platform/win32/scoped_win.h"
#include "platform/win32/wide.h"
#include "shell/registry_entries.h"

namespace korvane {

namespace {

// Writes a + b into out, or leaves out empty when the result would be cut:
// a shortened path names some other file.
void form_or_clear(char* out, const char* format, const char* a, const char* b) {
    const int n = std::snprintf(out, shell_path_bytes, format, a, b);
    if (n < 0 || static_cast<std::size_t>(n) >= shell_path_bytes || !fits_path_limit(out))
        out[0] = '\0';
}

}  // namespace

bool fits_path_limit(std::string_view path) {
    return win::widen(path).size() < shell_path_size;
}

std::string desktop_folder(bool common) {
    LPITEMIDLIST raw = nullptr;
    const int folder = common ? CSIDL_COMMON_DESKTOPDIRECTORY : CSIDL_DESKTOP;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, folder, &raw)) || !raw) return {};
    const win::ScopedPidl pidl(raw);
    wchar_t path[MAX_PATH] = {};
    if (!SHGetPathFromIDListW(pidl.get(), path)) return {};
    return win::narrow(path);
}

void form_shortcut_paths(const char* desktop, ShellPaths& paths) {
    if (!desktop || !desktop[0]) {
        paths.lock_shortcut_path[0] = '\0';
        paths.unlock_shortcut_path[0] = '\0';
        return;
    }
    form_or_clear(paths.lock_shortcut_path, "%s\\%s.lnk", desktop, lock_shortcut.name);
    form_or_clear(paths.unlock_shortcut_path, "%s\\%s.lnk", desktop, unlock_shortcut.name);
}

bool drive_and_folder(const char* path, char* out, std::size_t capacity) {
    std::size_t end = 0;
    for (std::size_t i = 0; path[i];) {
        const std::size_t n = platform::char_length(path + i);
        if (n == 1 && (path[i] == '\\' || path[i] == '/')) end = i + 1;
        // A drive without a folder: "C:name".
        else if (n == 1 && path[i] == ':' && i == 1 && end == 0)
            end = 2;
        i += n;
    }
    if (end >= capacity) {
        if (capacity) out[0] = '\0';
        return false;
    }
    std::memcpy(out, path, end);
    out[end] = '\0';
    return true;
}

void form_library_path(const char* executable, ShellPaths& paths) {
    paths.executable_path[0] = '\0';
    paths.menu_library_path[0] = '\0';
    paths.menu_library64_path[0] = '\0';
    if (!executable || !executable[0] || !fits_path_limit(executable)) return;
    std::memcpy(paths.executable_path, executable, std::strlen(executable) + 1);
    char folder[shell_path_bytes];
    if (!drive_and_folder(executable, folder, sizeof folder)) return;
    form_or_clear(paths.menu_library_path, "%s%s", folder, "kvnmenu.dll");
    form_or_clear(paths.menu_library64_path, "%s%s", folder, "kvnmenu64.dll");
}

bool installed_by_package(const char* executable, const std::string& package_folder) {
    char folder[shell_path_bytes];
    if (package_folder.empty() || !executable ||
        !drive_and_folder(executable, folder, sizeof folder) || !folder[0])
        return false;
    return platform::path_key(folder) == platform::path_key(package_folder);
}

std::string package_folder() {
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, win::widen(package_key).c_str(), 0, KEY_QUERY_VALUE,
                      &raw) != ERROR_SUCCESS)
        return {};
    const win::ScopedKey key(raw);
    const std::wstring name = win::widen(package_folder_value);
    wchar_t value[shell_path_size] = {};
    DWORD type = 0, size = sizeof value - sizeof value[0];  // room for a terminator
    if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(value),
                         &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return {};
    return win::narrow(value);
}

ShellPaths form_shell_paths() {
    ShellPaths paths;
    // A path past the limit is refused here, not cut.
    form_library_path(platform::executable_path().c_str(), paths);
    const bool packaged = installed_by_package(paths.executable_path, package_folder());
    form_shortcut_paths(desktop_folder(packaged).c_str(), paths);
    return paths;
}

}  // namespace korvane
