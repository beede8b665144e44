#include "settings/settings_dialog.h"

#include <commctrl.h>

#include "platform/win32/scoped_win.h"
#include "ui/about_box.h"
#include "ui/message_map.h"

namespace korvane {
namespace {

// The pages stop this far above the tab's lower edge so that the OK button
// stays uncovered: 50 pixels at 96 DPI, scaled like the rest of the dialog
// since the executable is DPI aware.
constexpr int page_bottom_margin_96dpi = 50;

int scaled_bottom_margin(HWND dialog) {
    int dpi = 96;
    const win::ScopedGetDC dc(dialog);
    if (dc.get()) dpi = GetDeviceCaps(dc.get(), LOGPIXELSY);
    return MulDiv(page_bottom_margin_96dpi, dpi > 0 ? dpi : 96, 96);
}

}  // namespace

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
    // No handler for the cancel command: there is nothing to cancel into.
    static constexpr MessageEntry<SettingsDialog> map[] = {
        on_message(WM_INITDIALOG, &SettingsDialog::on_init_dialog),
        on_notify(IDC_SETTINGS_TABS, TCN_SELCHANGE, &SettingsDialog::on_tab_changed),
        on_command(IDOK, &SettingsDialog::on_ok),
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
    // commands and the dialog's navigation reach them directly.
    for (const Tab& tab : tabs_) create_modeless(tab.page, tab.template_id, window(), 0);
    place_pages();
    show_page(static_cast<int>(SendMessageA(tabs, TCM_GETCURSEL, 0, 0)));
    return TRUE;
}

void SettingsDialog::place_pages() {
    const HWND tabs = GetDlgItem(window(), IDC_SETTINGS_TABS);
    RECT area{};
    if (!GetClientRect(tabs, &area)) return;
    SendMessageA(tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
    MapWindowPoints(tabs, window(), reinterpret_cast<POINT*>(&area), 2);
    const int height = area.bottom - area.top - scaled_bottom_margin(window());
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

LRESULT SettingsDialog::on_system_command(WPARAM wparam, LPARAM, bool& handled) {
    return korvane::on_system_command(window(), wparam, handled);
}

INT_PTR run_settings_dialog(Settings& settings, const ShellPaths& paths, HWND owner) {
    SettingsDialog dialog(settings, paths);
    return run_modal(dialog, owner);
}

}  // namespace korvane
