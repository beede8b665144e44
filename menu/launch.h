// Starting korvane.exe in encryption mode for the selection.
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "menu/menu_hooks.h"

namespace korvane::menu {

// CreateProcessW takes at most this many characters, the terminator included.
inline constexpr std::size_t command_line_limit = 32767;

// "EXE" -c "P1" "P2" ..., or nullopt when it would exceed the limit.
// korvane.exe splits at spaces and quotes only, so a quoted path that ends in
// a backslash ("C:\") needs no escaping.
std::optional<std::wstring> encrypt_command_line(const std::wstring& executable,
                                                 const std::vector<std::wstring>& paths);

// The folder of a module's file, with its trailing separator; empty on failure.
std::wstring module_folder(HMODULE module);

// Finds korvane.exe beside module and starts it with the selection; every
// refusal is explained in a message box unless show_ui is false.
HRESULT encrypt_selection(HMODULE module, HWND owner, bool show_ui,
                          const std::vector<std::wstring>& paths, const KvnMenuHooks& hooks);

// The real platform calls behind the hooks.
KvnMenuHooks platform_hooks();

}  // namespace korvane::menu
