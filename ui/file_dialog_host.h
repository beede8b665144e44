// Runs the platform's open or save file dialog with our hook, so that the
// dialog's own child window is bound to this object like any of ours.
#pragma once

#include <windows.h>

#include <commdlg.h>

#include "ui/dialog_base.h"

namespace korvane {

class FileDialogHost : public DialogBase {
  public:
    // The strings are used while run() runs: default_extension and filter
    // (pairs of NUL-terminated strings, ended by an empty one) must outlive it.
    // file_name is copied, cut to 259 bytes.
    FileDialogHost(bool open, const char* default_extension, const char* file_name, DWORD flags,
                   const char* filter, HWND owner);

    // The platform's result: non-zero when the user chose a file. Without an
    // owner, the active window at this moment becomes the owner.
    BOOL run();

    // For settings the constructor does not take (title, initial folder).
    OPENFILENAMEA& descriptor() { return descriptor_; }
    const char* file_name() const { return file_name_; }
    const char* file_title() const { return file_title_; }

    bool handle_message(HWND, UINT, WPARAM, LPARAM, LRESULT&) override { return false; }

  private:
    bool open_;
    OPENFILENAMEA descriptor_{};
    char file_name_[MAX_PATH] = {};
    char file_title_[256] = {};
};

}  // namespace korvane
