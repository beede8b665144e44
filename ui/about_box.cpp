#include "ui/about_box.h"

#include <zlib.h>

#include <cstdio>

#include "ui/message_map.h"

namespace korvane {

bool AboutBox::handle_message(HWND, UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) {
    static constexpr MessageEntry<AboutBox> map[] = {
        on_message(WM_INITDIALOG, &AboutBox::on_init_dialog),
        on_command_range(IDOK, IDNO, &AboutBox::on_close_command),
    };
    return dispatch_message_map(*this, map, message, wparam, lparam, result);
}

LRESULT AboutBox::on_init_dialog(WPARAM, LPARAM, bool&) {
    // The version of the zlib actually linked, not the one the sentence was
    // first written for. Should the text not be set, the template's sentence,
    // which names no version, stays.
    char notice[160];
    std::snprintf(notice, sizeof notice,
                  "This application uses the zlib %s compression and expansion algorithm.",
                  zlibVersion());
    SetDlgItemTextA(window(), IDC_ZLIB_NOTICE, notice);
    return TRUE;
}

LRESULT AboutBox::on_close_command(UINT, UINT id, HWND, bool&) {
    EndDialog(window(), id);
    return 0;
}

INT_PTR show_about_box(HWND owner) {
    AboutBox box;
    return run_modal(box, owner);
}

bool insert_version_item(HWND dialog) {
    const HMENU menu = GetSystemMenu(dialog, FALSE);
    if (!menu) return false;
    return InsertMenuA(menu, SC_CLOSE, MF_BYCOMMAND | MF_STRING, ID_VERSION_INFORMATION,
                       "&Version Information") != FALSE;
}

LRESULT on_system_command(HWND dialog, WPARAM command, bool& handled) {
    const UINT id = LOWORD(command);
    if (id == ID_VERSION_INFORMATION) {
        show_about_box(GetActiveWindow());
        return 0;
    }
    // The four low bits of a system command are the platform's own (dragging
    // the caption sends SC_MOVE with HTCAPTION in them): compare without them.
    if ((id & 0xFFF0) == SC_CLOSE) EndDialog(dialog, 0);
    handled = false;
    return 0;
}

}  // namespace korvane
