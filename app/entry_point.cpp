// The executable's entry point: prepares the shared state, does exactly one
// thing for the command line, and returns its result as the exit code. The
// only reader of process-wide state: everything it calls gets what it needs
// as arguments.
#include <windows.h>

#include <commctrl.h>

#include <string>

#include "app/command_line.h"
#include "app/input_list.h"
#include "ops/lock_dialog.h"
#include "platform/win32/scoped_win.h"
#include "platform/win32/wide.h"
#include "settings/settings.h"
#include "settings/settings_dialog.h"
#include "shell/install.h"
#include "shell/shell_paths.h"
#include "ui/dialog_base.h"

namespace korvane {
namespace {

// Before WinMain, in this order: an empty input list, then the settings
// from the user's INI file (or the one beside the executable, in portable
// mode).
struct StaticStartup {
    StaticStartup() {
        input_list().reset();
        load(current_settings);
    }
} static_startup;

// The main window, with the settings dialog on its menu.
INT_PTR lock_dialog(LockMode start_mode, const ShellPaths& paths) {
    LockDialogLinks links;
    links.open_settings = [&paths](HWND owner) {
        run_settings_dialog(current_settings, paths, owner);
    };
    return run_lock_dialog(start_mode, input_list(), current_settings, std::move(links));
}

INT_PTR dispatch(StartupMode mode, const ShellPaths& paths) {
    // Install and uninstall need administrative rights on NT 6 and later: a
    // second, elevated instance does them and its code is ours.
    if (const char* elevated_switch = relaunch_switch_for(mode, elevation_required()))
        return relaunch_elevated(elevated_switch);
    switch (mode) {
        case mode_decrypt:
            return lock_dialog(lock_decrypt, paths);
        case mode_encrypt:
            return lock_dialog(lock_encrypt, paths);
        case mode_install:
        case mode_install_elevated:
            install_shell_integration(paths);
            return 0;
        case mode_uninstall:
        case mode_uninstall_elevated: {
            // The folder goes, and a portable INI with it; each user's own
            // settings stay, as other programs leave theirs.
            char beside[settings_path_bytes];
            ini_path_for(paths.executable_path, beside, sizeof beside);
            uninstall_shell_integration(paths, beside);
            return 0;
        }
        case mode_register_menu_elevated:
            return set_context_menu_handler(true, paths);
        case mode_unregister_menu_elevated:
            return set_context_menu_handler(false, paths);
        // Owned by whatever window is active now (normally none).
        case mode_settings:
        case mode_settings_elevated:
            return run_settings_dialog(current_settings, paths, GetActiveWindow());
        default:
            return lock_dialog(lock_undetermined, paths);
    }
}

}  // namespace
}  // namespace korvane

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    using namespace korvane;
    const win::ComScope com;
    // Trackbar and rebar classes, and those of the settings dialog's tab
    // control and the job's progress bar, which the first two do not cover.
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES | ICC_COOL_CLASSES |
                                                                    ICC_TAB_CLASSES |
                                                                    ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    if (module_init(instance)) module_attach_main_thread();
    const ShellPaths paths = form_shell_paths();
    // The wide line, not the ANSI argument string: paths in any script arrive
    // whole, as UTF-8 like every path inside.
    const wchar_t* wide_line = GetCommandLineW();
    // U+FFFD in place of an unpaired surrogate would name another file.
    if (win::has_unpaired_surrogate(wide_line)) {
        const std::wstring message = std::wstring(wide_line) +
                                     L"\nA name holds a character (an unpaired surrogate) "
                                     L"that cannot be processed.";
        MessageBoxW(nullptr, message.c_str(), L"Error", MB_OK | MB_ICONWARNING);
        module_shutdown();
        return 0;
    }
    const std::string line = win::narrow(wide_line);
    const StartupMode mode = parse_command_line(skip_program_name(line.c_str()), input_list());
    const INT_PTR result = dispatch(mode, paths);
    module_shutdown();
    return static_cast<int>(result);
}
