// The About box (template 120) and the system-menu handling shared by the
// lock dialog and the settings dialog.
#pragma once

#include <windows.h>

#include "resources/resource_ids.h"
#include "ui/dialog_base.h"

namespace korvane {

class AboutBox : public DialogBase {
  public:
    static constexpr int idd = IDD_ABOUT;

    bool handle_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                        LRESULT& result) override;

  private:
    LRESULT on_init_dialog(WPARAM wparam, LPARAM lparam, bool& handled);
    LRESULT on_close_command(UINT code, UINT id, HWND control, bool& handled);
};

// Runs the About box modally; it opens at the origin of the owner's client
// area. Its result: 1 for Close, 2 for Escape, -1 when it cannot be shown.
INT_PTR show_about_box(HWND owner);

// Inserts "&Version Information" before the Close item of the dialog's system
// menu. False when the dialog has no system menu or the item cannot be added.
bool insert_version_item(HWND dialog);

// The WM_SYSCOMMAND handler of the lock dialog and the settings dialog: the
// version item opens the About box; a close request ends the dialog with 0 and
// then goes on to default processing, as every other command does.
LRESULT on_system_command(HWND dialog, WPARAM command, bool& handled);

}  // namespace korvane
