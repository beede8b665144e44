// The shell's folder browser, shared by the lock dialog's questions and the
// settings pages.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace korvane {

// Browses file-system folders from the desktop down (not below a network
// domain). title may be null; new_style offers the make-new-folder button.
// The chosen folder's path (UTF-8), or nullopt for a cancel or a choice without one.
std::optional<std::string> browse_for_folder(HWND owner, const char* title, bool new_style);

}  // namespace korvane
