#include "ui/file_dialog_host.h"

#include <algorithm>
#include <cstring>

namespace korvane {
namespace {

// The hook's type differs from a dialog procedure's only in the signedness of
// its result.
UINT_PTR CALLBACK hook_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    return static_cast<UINT_PTR>(start_dialog_procedure(window, message, wparam, lparam));
}

}  // namespace

FileDialogHost::FileDialogHost(bool open, const char* default_extension, const char* file_name,
                               DWORD flags, const char* filter, HWND owner)
    : open_(open) {
    if (file_name) {
        const std::size_t length = std::min(std::strlen(file_name), sizeof file_name_ - 1);
        std::memcpy(file_name_, file_name, length);
        file_name_[length] = '\0';
    }
    // The size of the descriptor before the places bar fields: the dialog
    // keeps the classic explorer layout that the hook is written for.
    descriptor_.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    descriptor_.hwndOwner = owner;
    descriptor_.hInstance = module_instance();
    descriptor_.lpstrFilter = filter;
    descriptor_.lpstrFile = file_name_;
    descriptor_.nMaxFile = sizeof file_name_;
    descriptor_.lpstrFileTitle = file_title_;
    descriptor_.nMaxFileTitle = sizeof file_title_;
    descriptor_.Flags = flags | OFN_EXPLORER | OFN_ENABLESIZING | OFN_ENABLEHOOK;
    descriptor_.lpstrDefExt = default_extension;
    descriptor_.lpfnHook = hook_procedure;
}

BOOL FileDialogHost::run() {
    if (!descriptor_.hwndOwner) descriptor_.hwndOwner = GetActiveWindow();
    if (!register_creation(creation_record(), *this)) return FALSE;
    const BOOL chosen = open_ ? GetOpenFileNameA(&descriptor_) : GetSaveFileNameA(&descriptor_);
    clear_window();
    withdraw_creation(creation_record());
    return chosen;
}

}  // namespace korvane
