#include "shell/install.h"

#include <cstring>

#include "platform/platform.h"
#include "platform/win32/scoped_win.h"
#include "platform/win32/wide.h"
#include "shell/registration.h"
#include "shell/registry_entries.h"
#include "shell/shortcut.h"

namespace korvane {

using win::ScopedHandle;

namespace {

// The executable and the switch each keep within 260 characters.
constexpr std::size_t launch_buffer_size = 261;

}  // namespace

int relaunch_elevated(const char* switch_text) {
    return relaunch_elevated(switch_text, platform::executable_path().c_str());
}

int relaunch_elevated(const char* switch_text, const char* executable) {
    if (!executable || !executable[0] || !switch_text) return relaunch_not_started;
    const std::wstring file = win::widen(executable);
    const std::wstring parameters = win::widen(switch_text);
    if (file.size() >= launch_buffer_size || parameters.size() >= launch_buffer_size)
        return relaunch_not_started;

    SHELLEXECUTEINFOW info = {};
    static_assert((SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_DDEWAIT) == 0x140);
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_DDEWAIT;
    info.lpVerb = L"runas";
    info.lpFile = file.c_str();
    info.lpParameters = parameters.c_str();  // only the switch: the new instance starts afresh
    info.nShow = SW_SHOWDEFAULT;
    const BOOL launched = ShellExecuteExW(&info);
    const ScopedHandle process(info.hProcess);
    // Declined or failed: there is no process to wait for, and the action
    // must not happen here instead.
    if (!launched || !process) return relaunch_not_started;

    while (WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) Sleep(500);
    DWORD code = 0;
    if (!GetExitCodeProcess(process.get(), &code)) return relaunch_exit_code_unknown;
    return static_cast<int>(code);
}

bool elevation_required(unsigned long platform_id, unsigned long major_version) {
    return platform_id == VER_PLATFORM_WIN32_NT && major_version >= 6;
}

bool elevation_required() {
    OSVERSIONINFOA version = {};
    static_assert(sizeof version == 148);
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version)) return false;
    return elevation_required(version.dwPlatformId, version.dwMajorVersion);
}

int install_shell_integration(const ShellPaths& paths) {
    create_shortcut_to(paths.executable_path, paths.lock_shortcut_path, lock_shortcut.arguments,
                       nullptr, lock_shortcut.icon_index);
    create_shortcut_to(paths.executable_path, paths.unlock_shortcut_path,
                       unlock_shortcut.arguments, nullptr, unlock_shortcut.icon_index);
    // The same lists the MSI's registry table is made from.
    const InstalledRegistration entries =
        installed_registration(paths.executable_path, paths.menu_library_path,
                               paths.menu_library64_path, on_64bit_windows());
    unregister_context_menu_handler(handler_class_id, handler_name);
    write_registry_entries(entries.handler);
    unregister_file_type(file_type_extension, file_type_class);
    write_registry_entries(entries.file_type);
    notify_association_changed();
    return 0;
}

int set_context_menu_handler(bool wanted, const ShellPaths& paths) {
    int done = 1;
    if (wanted)
        done = register_context_menu_handler(handler_class_id, handler_description, handler_name,
                                             paths.menu_library_path, paths.menu_library64_path);
    else
        unregister_context_menu_handler(handler_class_id, handler_name);
    notify_association_changed();
    return done ? 0 : 1;
}

std::vector<std::string> scheduled_deletions(const ShellPaths& paths) {
    std::vector<std::string> files;
    if (!paths.executable_path[0]) return files;
    files.emplace_back(paths.executable_path);

    char folder[shell_path_bytes];
    drive_and_folder(paths.executable_path, folder, sizeof folder);
    const std::size_t length = std::strlen(folder);
    if (length > 0) {
        std::string cipher = std::string(folder) + "AesEnc.dll";
        if (fits_path_limit(cipher)) files.push_back(std::move(cipher));
    }
    for (const char* library : {paths.menu_library_path, paths.menu_library64_path})
        if (library[0]) files.emplace_back(library);
    // Only a folder that ends in a separator loses it; "C:\" would become the
    // drive's current folder.
    if (length >= 2 && (folder[length - 1] == '\\' || folder[length - 1] == '/') &&
        folder[length - 2] != ':')
        files.emplace_back(folder, length - 1);
    return files;
}

int uninstall_shell_integration(const ShellPaths& paths, const char* ini_path) {
    const std::vector<std::string> later = scheduled_deletions(paths);
    unregister_file_type(file_type_extension, file_type_class);
    unregister_context_menu_handler(handler_class_id, handler_name);
    notify_association_changed();
    // Empty paths (no desktop folder) name nothing to delete.
    for (const char* path : {paths.lock_shortcut_path, paths.unlock_shortcut_path, ini_path})
        if (path && path[0]) DeleteFileW(win::system_path(path).c_str());
    for (const std::string& path : later)
        MoveFileExW(win::system_path(path).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return 0;
}

}  // namespace korvane
