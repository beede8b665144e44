#include "settings/settings_pages.h"

#include <commctrl.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>

#include "platform/win32/wide.h"
#include "shell/install.h"
#include "shell/registration.h"
#include "shell/registry_entries.h"
#include "shell/shortcut.h"
#include "ui/folder_browser.h"
#include "ui/message_map.h"

namespace korvane {
namespace {

// Destination buttons in the order of their values 0 to 3.
constexpr int destination_buttons[] = {IDC_DEST_DESKTOP, IDC_DEST_SOURCE, IDC_DEST_SELECT,
                                       IDC_DEST_FOLDER};

bool is_checked(HWND page, int id) {
    return IsDlgButtonChecked(page, id) == BST_CHECKED;
}

void set_checked(HWND page, int id, bool checked) {
    CheckDlgButton(page, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

void enable_folder_controls(HWND page, bool enabled) {
    EnableWindow(GetDlgItem(page, IDC_FOLDER_EDIT), enabled);
    EnableWindow(GetDlgItem(page, IDC_BROWSE), enabled);
}

void set_folder_text(HWND page, const char* folder) {
    SetDlgItemTextW(page, IDC_FOLDER_EDIT, win::widen(folder).c_str());
}

// At most 259 characters, as UTF-8.
std::string folder_text(HWND page) {
    wchar_t text[settings_path_size] = {};
    GetDlgItemTextW(page, IDC_FOLDER_EDIT, text, static_cast<int>(settings_path_size));
    return win::narrow(text);
}

// Both destination groups open the same way.
void show_destination(HWND page, std::int32_t destination, const char* folder) {
    for (int value = 0; value < static_cast<int>(std::size(destination_buttons)); ++value)
        set_checked(page, destination_buttons[value], value == destination);
    const bool user_folder = destination == destination_user_folder;
    enable_folder_controls(page, user_folder);
    if (user_folder) set_folder_text(page, folder);
}

// The value of the first checked destination, or -1 with none checked.
int checked_destination(HWND page) {
    for (int value = 0; value < static_cast<int>(std::size(destination_buttons)); ++value)
        if (is_checked(page, destination_buttons[value])) return value;
    return -1;
}

// The folder text counts only under "Specify a folder". Nothing checked
// keeps both fields.
void apply_destination(HWND page, std::int32_t& destination, char* folder) {
    const int value = checked_destination(page);
    if (value < 0) return;
    destination = value;
    if (value == destination_user_folder) {
        const std::string text = folder_text(page);
        std::memcpy(folder, text.c_str(), text.size() + 1);
    }
}

// True, after telling the user, for a folder the INI file cannot hold.
bool refuse_unstorable(HWND page, const std::string& folder) {
    if (storable_in_ini(folder.c_str())) return false;
    MessageBoxA(GetAncestor(page, GA_ROOT), unstorable_folder_message, "Error",
                MB_OK | MB_ICONWARNING);
    return true;
}

LRESULT folder_refused(HWND page) {
    return checked_destination(page) == destination_user_folder &&
                   refuse_unstorable(page, folder_text(page))
               ? 1
               : 0;
}

void browse_into_folder_edit(HWND page) {
    const auto folder = browse_for_folder(page, nullptr, false);
    if (folder && !refuse_unstorable(page, *folder)) set_folder_text(page, folder->c_str());
}

}  // namespace

// --- Encryption ----------------------------------------------------------------

bool EncryptionPage::handle_message(HWND, UINT message, WPARAM wparam, LPARAM lparam,
                                    LRESULT& result) {
    // The radio buttons are plain ones: every click, whatever its
    // notification, moves the check here.
    static constexpr MessageEntry<EncryptionPage> map[] = {
        on_message(WM_INITDIALOG, &EncryptionPage::on_init_dialog),
        on_command(IDC_DEST_DESKTOP, &EncryptionPage::on_destination),
        on_command(IDC_DEST_SOURCE, &EncryptionPage::on_destination),
        on_command(IDC_DEST_SELECT, &EncryptionPage::on_destination),
        on_command(IDC_DEST_FOLDER, &EncryptionPage::on_destination),
        on_command(IDC_NAME_SAME, &EncryptionPage::on_name),
        on_command(IDC_NAME_SELECT, &EncryptionPage::on_name),
        on_command(IDC_BROWSE, &EncryptionPage::on_browse),
        on_message(wm_page_refuses, &EncryptionPage::on_refuses),
        on_message(wm_page_apply, &EncryptionPage::on_apply),
    };
    return dispatch_message_map(*this, map, message, wparam, lparam, result);
}

LRESULT EncryptionPage::on_init_dialog(WPARAM, LPARAM, bool&) {
    const Settings& s = settings_;
    show_destination(window(), s.encrypt_path, s.user_defined_encrypt_path);
    if (s.encrypt_file == name_source || s.encrypt_file == name_source_with_date) {
        set_checked(window(), IDC_NAME_SAME, true);
        set_checked(window(), IDC_ADD_DATE, s.encrypt_file == name_source_with_date);
    } else if (s.encrypt_file == name_ask) {
        set_checked(window(), IDC_NAME_SELECT, true);
        EnableWindow(GetDlgItem(window(), IDC_ADD_DATE), FALSE);
    }
    return TRUE;
}

LRESULT EncryptionPage::on_destination(UINT, UINT clicked, HWND, bool&) {
    enable_folder_controls(window(), clicked == IDC_DEST_FOLDER);
    for (int id : destination_buttons) set_checked(window(), id, id == static_cast<int>(clicked));
    return 0;
}

LRESULT EncryptionPage::on_name(UINT, UINT clicked, HWND, bool&) {
    // Disabled, the date box keeps its check for when it comes back.
    EnableWindow(GetDlgItem(window(), IDC_ADD_DATE), clicked == IDC_NAME_SAME);
    set_checked(window(), IDC_NAME_SAME, clicked == IDC_NAME_SAME);
    set_checked(window(), IDC_NAME_SELECT, clicked == IDC_NAME_SELECT);
    return 0;
}

LRESULT EncryptionPage::on_browse(UINT, UINT, HWND, bool&) {
    browse_into_folder_edit(window());
    return 0;
}

LRESULT EncryptionPage::on_refuses(WPARAM, LPARAM, bool&) {
    return folder_refused(window());
}

LRESULT EncryptionPage::on_apply(WPARAM, LPARAM, bool&) {
    Settings& s = settings_;
    apply_destination(window(), s.encrypt_path, s.user_defined_encrypt_path);
    if (is_checked(window(), IDC_NAME_SAME))
        s.encrypt_file = is_checked(window(), IDC_ADD_DATE) ? name_source_with_date : name_source;
    else if (is_checked(window(), IDC_NAME_SELECT))
        s.encrypt_file = name_ask;
    return 0;
}

// --- Decryption ----------------------------------------------------------------

bool DecryptionPage::handle_message(HWND, UINT message, WPARAM wparam, LPARAM lparam,
                                    LRESULT& result) {
    // Automatic radio buttons: the platform moves the check itself.
    static constexpr MessageEntry<DecryptionPage> map[] = {
        on_message(WM_INITDIALOG, &DecryptionPage::on_init_dialog),
        on_command(IDC_DEST_DESKTOP, &DecryptionPage::on_destination),
        on_command(IDC_DEST_SOURCE, &DecryptionPage::on_destination),
        on_command(IDC_DEST_SELECT, &DecryptionPage::on_destination),
        on_command(IDC_DEST_FOLDER, &DecryptionPage::on_destination),
        on_command(IDC_BROWSE, &DecryptionPage::on_browse),
        on_message(wm_page_refuses, &DecryptionPage::on_refuses),
        on_message(wm_page_apply, &DecryptionPage::on_apply),
    };
    return dispatch_message_map(*this, map, message, wparam, lparam, result);
}

LRESULT DecryptionPage::on_init_dialog(WPARAM, LPARAM, bool&) {
    show_destination(window(), settings_.decrypt_path, settings_.user_defined_decrypt_path);
    return TRUE;
}

LRESULT DecryptionPage::on_destination(UINT, UINT clicked, HWND, bool&) {
    enable_folder_controls(window(), clicked == IDC_DEST_FOLDER);
    return 0;
}

LRESULT DecryptionPage::on_browse(UINT, UINT, HWND, bool&) {
    for (int id : destination_buttons) set_checked(window(), id, id == IDC_DEST_FOLDER);
    browse_into_folder_edit(window());
    return 0;
}

LRESULT DecryptionPage::on_refuses(WPARAM, LPARAM, bool&) {
    return folder_refused(window());
}

LRESULT DecryptionPage::on_apply(WPARAM, LPARAM, bool&) {
    apply_destination(window(), settings_.decrypt_path, settings_.user_defined_decrypt_path);
    return 0;
}

// --- Compression ---------------------------------------------------------------

int trackbar_position_for(int compression_level) {
    if (compression_level == 2) return 0;
    if (compression_level == 9) return 2;
    return 1;
}

int compression_level_for(int trackbar_position) {
    if (trackbar_position == 0) return 2;
    if (trackbar_position == 2) return 9;
    return 6;
}

const char* compression_level_name(int trackbar_position) {
    if (trackbar_position == 0) return "Low (High Speed), level 2";
    if (trackbar_position == 2) return "High (Low speed), level 9";
    return "Normal, level 6";
}

bool CompressionPage::handle_message(HWND, UINT message, WPARAM wparam, LPARAM lparam,
                                     LRESULT& result) {
    static constexpr MessageEntry<CompressionPage> map[] = {
        on_message(WM_INITDIALOG, &CompressionPage::on_init_dialog),
        on_message(WM_HSCROLL, &CompressionPage::on_slider_moved),
        on_message(wm_page_apply, &CompressionPage::on_apply),
    };
    return dispatch_message_map(*this, map, message, wparam, lparam, result);
}

LRESULT CompressionPage::on_init_dialog(WPARAM, LPARAM, bool&) {
    const HWND trackbar = GetDlgItem(window(), IDC_COMPRESSION_TRACKBAR);
    SendMessageA(trackbar, TBM_SETRANGE, FALSE, MAKELPARAM(0, 2));
    SendMessageA(trackbar, TBM_SETTICFREQ, 1, 0);
    SendMessageA(trackbar, TBM_SETPOS, TRUE, trackbar_position_for(settings_.compression_level));
    show_level_name();
    return TRUE;
}

LRESULT CompressionPage::on_slider_moved(WPARAM, LPARAM, bool&) {
    show_level_name();
    return 0;
}

void CompressionPage::show_level_name() {
    const LRESULT position =
        SendDlgItemMessageA(window(), IDC_COMPRESSION_TRACKBAR, TBM_GETPOS, 0, 0);
    SetDlgItemTextA(window(), IDC_COMPRESSION_LEVEL,
                    compression_level_name(static_cast<int>(position)));
}

LRESULT CompressionPage::on_apply(WPARAM, LPARAM, bool&) {
    const LRESULT position =
        SendDlgItemMessageA(window(), IDC_COMPRESSION_TRACKBAR, TBM_GETPOS, 0, 0);
    settings_.compression_level = compression_level_for(static_cast<int>(position));
    return 0;
}

// --- Start-up ------------------------------------------------------------------

StartUpActions default_start_up_actions() {
    // The handler is registered for every user: where that needs an
    // administrator, an elevated instance of the program registers it.
    return {[] { return notify_association_changed(); },
            [](bool wanted, const ShellPaths& paths) {
                if (elevation_required())
                    relaunch_elevated(wanted ? "-M" : "-N", paths.executable_path);
                else
                    set_context_menu_handler(wanted, paths);
            }};
}

namespace {

bool file_exists(const char* path) {
    return GetFileAttributesW(win::system_path(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Acts only when the box and the state at opening differ; true when it acted.
bool apply_shortcut(bool wanted, bool present, const char* link, const char* arguments,
                    int icon_index) {
    if (wanted == present) return false;
    // Failures are not reported: the box simply shows the truth next time.
    if (wanted)
        create_shortcut(link, arguments, nullptr, icon_index);
    else
        DeleteFileW(win::system_path(link).c_str());
    return true;
}

}  // namespace

bool StartUpPage::handle_message(HWND, UINT message, WPARAM wparam, LPARAM lparam,
                                 LRESULT& result) {
    static constexpr MessageEntry<StartUpPage> map[] = {
        on_message(WM_INITDIALOG, &StartUpPage::on_init_dialog),
        on_message(wm_page_apply, &StartUpPage::on_apply),
    };
    return dispatch_message_map(*this, map, message, wparam, lparam, result);
}

LRESULT StartUpPage::on_init_dialog(WPARAM, LPARAM, bool&) {
    lock_shortcut_present_ = file_exists(paths_.lock_shortcut_path);
    unlock_shortcut_present_ = file_exists(paths_.unlock_shortcut_path);
    menu_handler_registered_ =
        is_context_menu_handler_registered(handler_class_id, handler_name) != 0;
    set_checked(window(), IDC_LOCK_SHORTCUT, lock_shortcut_present_);
    set_checked(window(), IDC_UNLOCK_SHORTCUT, unlock_shortcut_present_);
    set_checked(window(), IDC_CONTEXT_MENU, menu_handler_registered_);
    return TRUE;
}

LRESULT StartUpPage::on_apply(WPARAM, LPARAM, bool&) {
    bool changed = apply_shortcut(is_checked(window(), IDC_LOCK_SHORTCUT), lock_shortcut_present_,
                                  paths_.lock_shortcut_path, lock_shortcut.arguments,
                                  lock_shortcut.icon_index);
    changed |= apply_shortcut(is_checked(window(), IDC_UNLOCK_SHORTCUT), unlock_shortcut_present_,
                              paths_.unlock_shortcut_path, unlock_shortcut.arguments,
                              unlock_shortcut.icon_index);
    const bool menu_wanted = is_checked(window(), IDC_CONTEXT_MENU);
    if (menu_wanted != menu_handler_registered_) {
        if (actions_.set_menu_handler)
            actions_.set_menu_handler(menu_wanted, paths_);
        else if (menu_wanted)
            register_context_menu_handler(handler_class_id, handler_description, handler_name,
                                          paths_.menu_library_path, paths_.menu_library64_path);
        else
            unregister_context_menu_handler(handler_class_id, handler_name);
        changed = true;
    }
    if (changed && actions_.notify_association_changed) actions_.notify_association_changed();
    return 0;
}

}  // namespace korvane
