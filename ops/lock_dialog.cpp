#include "ops/lock_dialog.h"

#include <commdlg.h>
#include <imm.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "app/input_list.h"
#include "archive/password_rule.h"
#include "archive/result_code.h"
#include "ops/dialog_questions.h"
#include "ops/job_runner.h"
#include "ops/output_destination.h"
#include "ops/output_naming.h"
#include "platform/platform.h"
#include "platform/win32/scoped_win.h"
#include "platform/win32/wide.h"
#include "resources/resource_ids.h"
#include "settings/settings.h"
#include "ui/about_box.h"
#include "ui/file_dialog_host.h"
#include "ui/message_map.h"

namespace korvane {

namespace {

// One character more than a password may have, so that a 64th is seen and
// refused, and the terminator.
constexpr std::size_t password_read_size = max_password_length + 2;

// A multi-file selection lists the folder and every name: far more than one
// path's 260 characters.
constexpr std::size_t selection_buffer_size = 32 * 1024;

constexpr int all_password_controls[] = {IDC_START,
                                         IDC_PASSWORD,
                                         IDC_CONFIRM_PASSWORD,
                                         IDC_DECRYPT_PASSWORD,
                                         IDC_PASSWORD_LABEL,
                                         IDC_CONFIRM_PASSWORD_LABEL,
                                         IDC_DECRYPT_PASSWORD_LABEL};
constexpr int encryption_controls[] = {IDC_PASSWORD, IDC_CONFIRM_PASSWORD, IDC_PASSWORD_LABEL,
                                       IDC_CONFIRM_PASSWORD_LABEL};
constexpr int decryption_controls[] = {IDC_DECRYPT_PASSWORD, IDC_DECRYPT_PASSWORD_LABEL};

// What was typed, as the Unicode edit control holds it.
std::wstring read_edit(HWND dialog, int id) {
    wchar_t text[password_read_size] = {};
    GetDlgItemTextW(dialog, id, text, static_cast<int>(std::size(text)));
    return text;
}

bool has_double_byte(const std::wstring& typed) {
    std::string bytes;
    if (!win::to_ansi(typed, bytes)) return false;  // refused at Start
    for (unsigned char c : bytes)
        if (platform::is_lead_byte(c)) return true;
    return false;
}

// A path whose name holds an unpaired surrogate has no UTF-8 form: U+FFFD in
// its place would name another file. Refused with a message naming it.
bool is_exact_path(HWND owner, const std::wstring& path) {
    if (!win::has_unpaired_surrogate(path)) return true;
    const std::wstring message =
        path + L"\nThis name holds a character (an unpaired surrogate) that cannot be processed.";
    MessageBoxW(owner, message.c_str(), L"Error", MB_OK | MB_ICONWARNING);
    return false;
}

// The extension as the C runtime's path splitting gives it, matched with case.
bool is_encrypted_name(const char* path) {
    return split_source(path).extension == ".cry";
}

}  // namespace

bool LockDialog::handle_message(HWND, UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) {
    static constexpr MessageEntry<LockDialog> map[] = {
        on_message(WM_INITDIALOG, &LockDialog::on_init_dialog),
        on_message(WM_DROPFILES, &LockDialog::on_drop_files),
        on_command(IDC_START, &LockDialog::on_start),
        on_command(IDC_DECRYPT_PASSWORD, EN_CHANGE, &LockDialog::on_password_changed),
        on_command(IDC_CONFIRM_PASSWORD, EN_CHANGE, &LockDialog::on_password_changed),
        on_command(IDC_PASSWORD, EN_CHANGE, &LockDialog::on_password_changed),
        on_command(ID_FILE_ENCRYPTION, &LockDialog::on_open_files),
        on_command(ID_FILE_DECRYPTION, &LockDialog::on_open_files),
        on_message(WM_SYSCOMMAND, &LockDialog::on_system_command),
    };
    return dispatch_message_map(*this, map, message, wparam, lparam, result);
}

LRESULT LockDialog::on_init_dialog(WPARAM, LPARAM lparam, bool&) {
    insert_version_item(window());
    // Passwords are typed as single-byte characters: no input method.
    ImmAssociateContext(GetDlgItem(window(), IDC_PASSWORD), nullptr);
    ImmAssociateContext(GetDlgItem(window(), IDC_CONFIRM_PASSWORD), nullptr);
    center_window(window());
    mode_ = static_cast<LockMode>(lparam);
    if (inputs_.count() > 0 && mode_ != lock_undetermined)
        show_password_entry();
    else
        show_drop_prompt(mode_);
    return TRUE;
}

void LockDialog::show_controls(const int* ids, std::size_t count, bool visible) {
    for (std::size_t i = 0; i < count; ++i)
        ShowWindow(GetDlgItem(window(), ids[i]), visible ? SW_SHOW : SW_HIDE);
}

void LockDialog::set_icon(int icon_id) {
    icon_ = static_cast<HICON>(LoadImageA(module_instance(), MAKEINTRESOURCEA(icon_id), IMAGE_ICON,
                                          GetSystemMetrics(SM_CXSMICON),
                                          GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    if (icon_) SendMessageA(window(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
}

void LockDialog::enable_menu_items(bool enabled) {
    // The template attaches no menu; the items follow the state all the same
    // for a build that does.
    const HMENU menu = GetMenu(window());
    if (!menu) return;
    const UINT flags = MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED | MF_DISABLED);
    for (UINT id : {ID_FILE_ENCRYPTION, ID_FILE_DECRYPTION, ID_OPTION_SETTINGS})
        EnableMenuItem(menu, id, flags);
}

void LockDialog::show_drop_prompt(LockMode mode) {
    mode_ = mode;
    inputs_.clear();
    DragAcceptFiles(window(), TRUE);
    show_controls(all_password_controls, std::size(all_password_controls), false);
    int icon = IDI_NEUTRAL;
    const char* heading = "Select the file for Encryption /Decryption";
    if (mode == lock_encrypt) {
        heading = "File Encryption";
        icon = IDI_LOCK;
    } else if (mode == lock_decrypt) {
        heading = "File Decryption";
        icon = IDI_UNLOCK;
    }
    SetDlgItemTextA(window(), IDC_HEADING, heading);
    SetDlgItemTextA(window(), IDC_INSTRUCTION, "Please drag and drop the target file here.");
    enable_menu_items(true);
    set_icon(icon);
}

void LockDialog::show_password_entry() {
    int icon;
    if (mode_ == lock_encrypt) {
        SetDlgItemTextA(window(), IDC_HEADING, "Encryption");
        show_controls(encryption_controls, std::size(encryption_controls), true);
        icon = IDI_LOCK;
    } else {
        if (inputs_.count() > 1) {
            MessageBoxA(window(),
                        "Multiple files cannot be decrypted at the same time.\n Drag and drop "
                        "files one at a time.",
                        "Error", MB_OK | MB_ICONWARNING);
            show_drop_prompt(lock_decrypt);
            return;
        }
        SetDlgItemTextA(window(), IDC_HEADING, "Decryption");
        show_controls(decryption_controls, std::size(decryption_controls), true);
        icon = IDI_UNLOCK;
    }
    const HWND start = GetDlgItem(window(), IDC_START);
    ShowWindow(start, SW_SHOW);
    EnableWindow(start, FALSE);
    SetDlgItemTextA(window(), IDC_INSTRUCTION, "Input the password and click Start.");
    set_icon(icon);
    enable_menu_items(false);
}

LRESULT LockDialog::on_drop_files(WPARAM wparam, LPARAM, bool&) {
    const win::ScopedDrop owned(reinterpret_cast<HDROP>(wparam));
    const HDROP drop = owned.get();
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    bool all_encrypted = count > 0;
    for (UINT i = 0; i < count; ++i) {
        const UINT length = DragQueryFileW(drop, i, nullptr, 0);
        std::wstring path(length + 1, L'\0');
        if (DragQueryFileW(drop, i, path.data(), length + 1) != length) continue;
        path.resize(length);
        if (!is_exact_path(window(), path)) continue;
        const std::string utf8 = win::narrow(path);
        inputs_.add(utf8.c_str());
        all_encrypted = all_encrypted && is_encrypted_name(utf8.c_str());
    }
    DragAcceptFiles(window(), FALSE);
    if (mode_ == lock_undetermined) mode_ = all_encrypted ? lock_decrypt : lock_encrypt;
    show_password_entry();
    return 0;
}

LRESULT LockDialog::on_password_changed(UINT, UINT, HWND, bool&) {
    const HWND start = GetDlgItem(window(), IDC_START);
    if (mode_ != lock_encrypt) {
        EnableWindow(start, !read_edit(window(), IDC_DECRYPT_PASSWORD).empty());
        return 0;
    }
    const std::wstring password = read_edit(window(), IDC_PASSWORD);
    const std::wstring confirmation = read_edit(window(), IDC_CONFIRM_PASSWORD);
    // Emptying a field sends another change notification, which disables Start.
    if (has_double_byte(password)) SetDlgItemTextA(window(), IDC_PASSWORD, "");
    if (has_double_byte(confirmation)) SetDlgItemTextA(window(), IDC_CONFIRM_PASSWORD, "");
    EnableWindow(start, !password.empty() && password == confirmation);
    return 0;
}

LRESULT LockDialog::on_start(UINT, UINT, HWND, bool&) {
    // Archives are keyed with the code page's bytes, as they always were.
    std::string password;
    if (!win::to_ansi(
            read_edit(window(), mode_ == lock_encrypt ? IDC_PASSWORD : IDC_DECRYPT_PASSWORD),
            password)) {
        MessageBoxA(window(), password_code_page_message, "Error", MB_OK | MB_ICONWARNING);
        return 0;
    }
    if (!password_length_ok(password.size())) {
        MessageBoxA(window(), password_length_message, "Error", MB_OK | MB_ICONWARNING);
        return 0;
    }
    DialogQuestions questions(window());
    const std::optional<std::string> output =
        resolve_output_path(mode_, inputs_, settings_, questions);
    if (!output) return 0;  // the user stopped at a question

    std::string refused;
    const JobRequest request{
        password.c_str(), output->c_str(), mode_, inputs_, settings_.compression_level, &refused};
    const ResultCode result = run_job(window(), request);

    const char* direction = mode_ == lock_encrypt ? "Encryption" : "Decryption";
    char message[256];
    if (result == result_ok) {
        std::snprintf(message, sizeof message, "%s has completed successfully.", direction);
        MessageBoxA(window(), message, "Information", MB_OK | MB_ICONINFORMATION);
    } else {
        const char* reason = result_message(result);
        std::snprintf(message, sizeof message, "%s has failed.\n%s", direction,
                      reason ? reason : "");
        // The file whose name is the reason, in any script.
        std::wstring text = win::widen(message);
        if (!refused.empty()) text += L"\n" + win::widen(refused);
        MessageBoxW(window(), text.c_str(), L"Information", MB_OK | MB_ICONWARNING);
    }
    EndDialog(window(), 0);
    return 0;
}

LRESULT LockDialog::on_open_files(UINT, UINT, HWND, bool&) {
    static constexpr wchar_t filter[] = L"All files (*.*)\0*.*\0";
    FileDialogHost dialog(true, nullptr, "",
                          OFN_ALLOWMULTISELECT | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY, filter,
                          GetActiveWindow());
    std::vector<wchar_t> selection(selection_buffer_size, L'\0');
    OPENFILENAMEW& d = dialog.descriptor();
    d.lpstrTitle = L"Select the file to be encrypted.";
    d.lpstrFile = selection.data();
    d.nMaxFile = static_cast<DWORD>(selection.size());
    if (!dialog.run()) return 0;

    // One file: its full path. Several: the folder, then each name, each
    // terminated, the list ended by an empty name. Each path still has to
    // fit the platform's path limit.
    const auto add = [this](const std::wstring& path) {
        if (path.size() < MAX_PATH && is_exact_path(window(), path))
            inputs_.add(win::narrow(path).c_str());
    };
    const std::wstring folder = selection.data();
    const wchar_t* name = selection.data() + folder.size() + 1;
    if (!*name) add(folder);
    for (; *name; name += std::wcslen(name) + 1) add(folder + L"\\" + name);
    mode_ = lock_encrypt;
    show_password_entry();
    return 0;
}

LRESULT LockDialog::on_system_command(WPARAM wparam, LPARAM, bool& handled) {
    return korvane::on_system_command(window(), wparam, handled);
}

INT_PTR run_lock_dialog(LockMode start_mode, InputList& inputs, const Settings& settings) {
    LockDialog dialog(inputs, settings);
    return run_modal(dialog, nullptr, start_mode);
}

}  // namespace korvane
