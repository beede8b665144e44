// Runs the platform's open or save file dialog with our hook, so that the
// dialog's own child window is bound to this object like any of ours.
#pragma once

#include <windows.h>

#include <commdlg.h>

#include <string>

#include "ui/dialog_base.h"

namespace korvane {

class FileDialogHost : public DialogBase {
  public:
    // The strings are used while run() runs: default_extension and filter
    // (pairs of NUL-terminated strings, ended by an empty one) must outlive it.
    // file_name (UTF-8) is copied, cut to 259 characters.
    FileDialogHost(bool open, const wchar_t* default_extension, const char* file_name, DWORD flags,
                   const wchar_t* filter, HWND owner);

    // The platform's result: non-zero when the user chose a file. Without an
    // owner, the active window at this moment becomes the owner.
    BOOL run();

    // For settings the constructor does not take (title, initial folder).
    OPENFILENAMEW& descriptor() { return descriptor_; }
    // The chosen path, UTF-8.
    std::string file_name() const;

    bool handle_message(HWND, UINT, WPARAM, LPARAM, LRESULT&) override { return false; }

  private:
    bool open_;
    OPENFILENAMEW descriptor_{};
    wchar_t file_name_[MAX_PATH] = {};
    wchar_t file_title_[256] = {};
};

}  // namespace korvane
