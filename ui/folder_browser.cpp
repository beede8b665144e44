#include "ui/folder_browser.h"

#include "platform/win32/scoped_win.h"
#include "platform/win32/wide.h"

namespace korvane {

std::optional<std::string> browse_for_folder(HWND owner, const char* title, bool new_style) {
    const std::wstring wide_title = title ? win::widen(title) : std::wstring();
    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.pidlRoot = nullptr;  // the desktop
    info.lpszTitle = title ? wide_title.c_str() : nullptr;
    info.ulFlags =
        BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN | (new_style ? BIF_NEWDIALOGSTYLE : 0);
    const win::ScopedPidl chosen(SHBrowseForFolderW(&info));
    wchar_t path[MAX_PATH] = {};
    if (!chosen || !SHGetPathFromIDListW(chosen.get(), path)) return std::nullopt;
    return win::narrow(path);
}

}  // namespace korvane
