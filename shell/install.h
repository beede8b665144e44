// Install, uninstall, and the elevated re-launch that runs them (and the
// settings dialog's handler registration) with administrative rights on NT 6
// and later.
#pragma once

#include <string>
#include <vector>

#include "shell/shell_paths.h"

namespace korvane {

// Exit code of the first instance when no elevated instance could be
// started (the user declined, or the launch failed): ERROR_CANCELLED.
inline constexpr int relaunch_not_started = 1223;
// Exit code when the elevated instance ran but its exit code cannot be read.
inline constexpr int relaunch_exit_code_unknown = 1;

// Starts the running executable (or the one given) through the "runas" verb
// with switch_text as its only parameter, polls every 500 ms until it ends
// and returns its exit code. Never performs the action itself.
int relaunch_elevated(const char* switch_text);
int relaunch_elevated(const char* switch_text, const char* executable);

// Whether administrative actions need an elevated instance: only the NT
// family (platform id 2) from major version 6 elevates.
bool elevation_required(unsigned long platform_id, unsigned long major_version);
// The same for the running platform; false when its version cannot be read
// (GetVersionExA).
bool elevation_required();

// Both shortcuts, then the handler and the file type (each removed first),
// then one notification. Steps that fail are passed over; always returns 0.
int install_shell_integration(const ShellPaths& paths);

// Registers (wanted) or removes the context-menu handler for the libraries
// beside the executable, then notifies. What an elevated instance does for
// the settings dialog. 0 when done, 1 when the registration failed.
int set_context_menu_handler(bool wanted, const ShellPaths& paths);

// Removes the registrations and notifies, deletes both shortcuts and the INI
// file beside the program at once and schedules scheduled_deletions for the
// next restart. Always returns 0.
int uninstall_shell_integration(const ShellPaths& paths, const char* ini_path);

// What uninstall leaves to the next restart, in order: the executable,
// AesEnc.dll, kvnmenu.dll and kvnmenu64.dll beside it, then its folder (last, as it goes
// only once empty). Paths that cannot be formed are left out, and so is a
// drive root, which cannot be removed (and "C:" would name the current one).
std::vector<std::string> scheduled_deletions(const ShellPaths& paths);

}  // namespace korvane
