#include "ui/file_dialog_host.h"

#include <algorithm>
#include <cwchar>
#include <iterator>

#include "platform/win32/wide.h"

namespace korvane {
namespace {

// The hook's type differs from a dialog procedure's only in the signedness of
// its result.
UINT_PTR CALLBACK hook_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return static_cast<UINT_PTR>(start_dialog_procedure(window, message, wparam, lparam));
}

}  // namespace

FileDialogHost::FileDialogHost(bool open, const wchar_t* default_extension, const char* file_name,
                               DWORD flags, const wchar_t* filter, HWND owner)
    : open_(open) {
    if (file_name) {
        const std::wstring wide = win::widen(file_name);
        const std::size_t length = std::min(wide.size(), std::size(file_name_) - 1);
        std::wmemcpy(file_name_, wide.data(), length);
        file_name_[length] = L'\0';
    }
    // The size of the descriptor before the places bar fields: the dialog
    // keeps the classic explorer layout that the hook is written for.
    descriptor_.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
    descriptor_.hwndOwner = owner;
    descriptor_.hInstance = module_instance();
    descriptor_.lpstrFilter = filter;
    descriptor_.lpstrFile = file_name_;
    descriptor_.nMaxFile = static_cast<DWORD>(std::size(file_name_));
    descriptor_.lpstrFileTitle = file_title_;
    descriptor_.nMaxFileTitle = static_cast<DWORD>(std::size(file_title_));
    descriptor_.Flags = flags | OFN_EXPLORER | OFN_ENABLESIZING | OFN_ENABLEHOOK;
    descriptor_.lpstrDefExt = default_extension;
    descriptor_.lpfnHook = hook_procedure;
}

BOOL FileDialogHost::run() {
    if (!descriptor_.hwndOwner) descriptor_.hwndOwner = GetActiveWindow();
    if (!register_creation(creation_record(), *this)) return FALSE;
    const BOOL chosen = open_ ? GetOpenFileNameW(&descriptor_) : GetSaveFileNameW(&descriptor_);
    clear_window();
    withdraw_creation(creation_record());
    return chosen;
}

std::string FileDialogHost::file_name() const {
    return win::narrow(file_name_);
}

}  // namespace korvane
