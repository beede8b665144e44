#include "ui/folder_browser.h"

#include "platform/win32/scoped_win.h"

namespace korvane {

std::optional<std::string> browse_for_folder(HWND owner, const char* title, bool new_style) {
    BROWSEINFOA info{};
    info.hwndOwner = owner;
    info.pidlRoot = nullptr;  // the desktop
    info.lpszTitle = title;
    info.ulFlags =
        BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN | (new_style ? BIF_NEWDIALOGSTYLE : 0);
    const win::ScopedPidl chosen(SHBrowseForFolderA(&info));
    char path[MAX_PATH] = {};
    if (!chosen || !SHGetPathFromIDListA(chosen.get(), path)) return std::nullopt;
    return std::string(path);
}

}  // namespace korvane
