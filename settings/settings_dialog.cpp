#include "settings/settings_dialog.h"

#include <commctrl.h>

#include "platform/win32/scoped_win.h"
#include "ui/about_box.h"
#include "ui/message_map.h"

namespace korvane {

SettingsDialog::SettingsDialog(Settings& settings, const ShellPaths& paths, StartUpActions actions)
    : settings_(settings),
      encryption_(settings),
      decryption_(settings),
      compression_(settings),
      start_up_(paths, std::move(actions)),
      tabs_{{{"Encryption", EncryptionPage::idd, encryption_},
             {"Decryption", DecryptionPage::idd, decryption_},
             {"Compression", CompressionPage::idd, compression_},
             {"StartUp", StartUpPage::idd, start_up_}}} {}

bool SettingsDialog::handle_message(HWND, UINT message, WPARAM wparam, LPARAM lparam,
                                    LRESULT& result) {
    static constexpr MessageEntry<SettingsDialog> map[] = {
        on_message(WM_INITDIALOG, &SettingsDialog::on_init_dialog),
        on_notify(IDC_SETTINGS_TABS, TCN_SELCHANGE, &SettingsDialog::on_tab_changed),
        on_command(IDOK, &SettingsDialog::on_ok),
        on_command(IDCANCEL, &SettingsDialog::on_cancel),
        on_message(WM_NEXTDLGCTL, &SettingsDialog::on_next_control),
        on_message(WM_SYSCOMMAND, &SettingsDialog::on_system_command),
    };
    return dispatch_message_map(*this, map, message, wparam, lparam, result);
}

LRESULT SettingsDialog::on_init_dialog(WPARAM, LPARAM, bool&) {
    // A shared icon from the module: never destroyed.
    if (const HANDLE icon =
            LoadImageA(module_instance(), MAKEINTRESOURCEA(IDI_NEUTRAL), IMAGE_ICON,
                       GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED))
        SendMessageA(window(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    insert_version_item(window());
    center_window(window());

    const HWND tabs = GetDlgItem(window(), IDC_SETTINGS_TABS);
    for (std::size_t i = 0; i < tabs_.size(); ++i) {
        TCITEMA item{};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<char*>(tabs_[i].name);
        SendMessageA(tabs, TCM_INSERTITEMA, i, reinterpret_cast<LPARAM>(&item));
    }
    // Children of the dialog, not of the tab control, so that their
    // commands and the dialog's navigation reach them directly. Made last,
    // they follow the tab control (the template puts OK and Cancel first):
    // Tab goes from the tabs through the page to OK and Cancel.
    for (const Tab& tab : tabs_) create_modeless(tab.page, tab.template_id, window(), 0);
    place_pages();
    show_page(static_cast<int>(SendMessageA(tabs, TCM_GETCURSEL, 0, 0)));
    SetFocus(tabs);
    return FALSE;  // focus set here, not on OK, the first control
}

void SettingsDialog::dpi_changed() {
    place_pages();
}

void SettingsDialog::place_pages() {
    const HWND tabs = GetDlgItem(window(), IDC_SETTINGS_TABS);
    RECT area{};
    if (!GetClientRect(tabs, &area)) return;
    SendMessageA(tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
    MapWindowPoints(tabs, window(), reinterpret_cast<POINT*>(&area), 2);
    // The pages end above the buttons, which sit inside the tab's frame.
    RECT button{};
    if (GetWindowRect(GetDlgItem(window(), IDOK), &button)) {
        MapWindowPoints(nullptr, window(), reinterpret_cast<POINT*>(&button), 2);
        if (button.top < area.bottom) area.bottom = button.top;
    }
    const int height = area.bottom - area.top;
    for (const Tab& tab : tabs_) {
        if (const HWND w = tab.page.window())
            MoveWindow(w, area.left, area.top, area.right - area.left, height > 0 ? height : 0,
                       FALSE);
    }
}

void SettingsDialog::show_page(int selected) {
    for (std::size_t i = 0; i < tabs_.size(); ++i) {
        if (const HWND w = tabs_[i].page.window())
            ShowWindow(w, static_cast<int>(i) == selected ? SW_SHOW : SW_HIDE);
    }
}

LRESULT SettingsDialog::on_tab_changed(const NMHDR&, bool&) {
    show_page(
        static_cast<int>(SendDlgItemMessageA(window(), IDC_SETTINGS_TABS, TCM_GETCURSEL, 0, 0)));
    return 0;
}

LRESULT SettingsDialog::on_ok(UINT, UINT, HWND, bool&) {
    // A page that cannot store a value has said why; its tab comes to the
    // front and nothing is applied until it is corrected.
    for (std::size_t i = 0; i < tabs_.size(); ++i) {
        const HWND w = tabs_[i].page.window();
        if (w && SendMessageA(w, wm_page_refuses, 0, 0)) {
            SendDlgItemMessageA(window(), IDC_SETTINGS_TABS, TCM_SETCURSEL, i, 0);
            show_page(static_cast<int>(i));
            return 0;
        }
    }
    // Every page applies, shown or not, so each keeps what it opened with.
    for (const Tab& tab : tabs_) {
        if (const HWND w = tab.page.window()) SendMessageA(w, wm_page_apply, 0, 0);
    }
    for (const Tab& tab : tabs_) {
        if (const HWND w = tab.page.window()) DestroyWindow(w);
    }
    save(settings_);
    EndDialog(window(), 0);
    return 0;
}

LRESULT SettingsDialog::on_cancel(UINT, UINT, HWND, bool&) {
    // Cancel and Escape: as the close box, nothing applied or saved.
    EndDialog(window(), 0);
    return 0;
}

LRESULT SettingsDialog::on_next_control(WPARAM wparam, LPARAM lparam, bool& handled) {
    // The dialog manager turns Tab into this message, Ctrl+Tab too; with Ctrl
    // down it moves between pages, as in every tabbed dialog.
    if (LOWORD(lparam) != 0 || !(GetKeyState(VK_CONTROL) & 0x8000)) {
        handled = false;
        return 0;
    }
    const HWND tabs = GetDlgItem(window(), IDC_SETTINGS_TABS);
    const int count = static_cast<int>(tabs_.size());
    const int current = static_cast<int>(SendMessageA(tabs, TCM_GETCURSEL, 0, 0));
    const int next = (current + (wparam ? count - 1 : 1)) % count;
    SendMessageA(tabs, TCM_SETCURSEL, next, 0);
    show_page(next);
    // Focus never stays on a control of a page that is now hidden.
    if (!IsWindowVisible(GetFocus())) SetFocus(tabs);
    return 0;
}

LRESULT SettingsDialog::on_system_command(WPARAM wparam, LPARAM, bool& handled) {
    return korvane::on_system_command(window(), wparam, handled);
}

INT_PTR run_settings_dialog(Settings& settings, const ShellPaths& paths, HWND owner) {
    SettingsDialog dialog(settings, paths);
    return run_modal(dialog, owner);
}

}  // namespace korvane
