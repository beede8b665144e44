#include "ops/lock_dialog.h"

#include <commdlg.h>
#include <imm.h>
#include <shellapi.h>

#include <algorithm>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

#include "app/input_list.h"
#include "archive/password_rule.h"
#include "archive/paths.h"
#include "archive/result_code.h"
#include "ops/dialog_questions.h"
#include "ops/drop_summary.h"
#include "ops/job_runner.h"
#include "ops/output_destination.h"
#include "ops/output_naming.h"
#include "ops/taskbar_progress.h"
#include "platform/platform.h"
#include "platform/win32/scoped_win.h"
#include "platform/win32/wide.h"
#include "resources/resource_ids.h"
#include "settings/settings.h"
#include "ui/about_box.h"
#include "ui/file_dialog_host.h"
#include "ui/folder_browser.h"
#include "ui/message_map.h"

namespace korvane {

namespace {

// A multi-file selection lists the folder and every name: far more than one
// path's 260 characters.
constexpr std::size_t selection_buffer_size = 32 * 1024;

constexpr const char* mismatch_note = "The passwords do not match";
constexpr const char* too_long_note = "A password has at most 63 characters.";
constexpr const char* refused_note =
    "That character cannot be part of a password on this system: it was not typed.";
constexpr const char* asked_later = "The destination is asked for when Start is pressed.";

constexpr int all_password_controls[] = {IDC_START,
                                         IDC_PASSWORD,
                                         IDC_CONFIRM_PASSWORD,
                                         IDC_DECRYPT_PASSWORD,
                                         IDC_PASSWORD_LABEL,
                                         IDC_CONFIRM_PASSWORD_LABEL,
                                         IDC_DECRYPT_PASSWORD_LABEL,
                                         IDC_PASSWORD_NOTE,
                                         IDC_SHOW_PASSWORD,
                                         IDC_DROP_SUMMARY,
                                         IDC_OUTPUT_LINE};
constexpr int encryption_controls[] = {IDC_PASSWORD,       IDC_CONFIRM_PASSWORD,
                                       IDC_PASSWORD_LABEL, IDC_CONFIRM_PASSWORD_LABEL,
                                       IDC_PASSWORD_NOTE,  IDC_SHOW_PASSWORD};
constexpr int decryption_controls[] = {IDC_DECRYPT_PASSWORD, IDC_DECRYPT_PASSWORD_LABEL,
                                       IDC_PASSWORD_NOTE};
constexpr int summary_controls[] = {IDC_START, IDC_DROP_SUMMARY, IDC_OUTPUT_LINE};

// What was typed, whole, as the Unicode edit control holds it.
std::wstring read_edit(HWND dialog, int id) {
    const HWND edit = GetDlgItem(dialog, id);
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
    text.resize(
        static_cast<std::size_t>(GetWindowTextW(edit, text.data(), static_cast<int>(text.size()))));
    return text;
}

// Archives are keyed with the code page's bytes, one byte a character: a
// character the code page has no exact form for, or only a double-byte one,
// cannot be part of a password.
bool password_can_hold(std::wstring_view character) {
    std::string bytes;
    if (!win::to_ansi(character, bytes)) return false;
    for (unsigned char c : bytes)
        if (platform::is_lead_byte(c)) return false;
    return true;
}

// A path whose name holds an unpaired surrogate has no UTF-8 form: U+FFFD in
// its place would name another file. Refused with a message naming it.
bool is_exact_path(HWND owner, const std::wstring& path) {
    if (!win::has_unpaired_surrogate(path)) return true;
    show_message(owner,
                 win::narrow(path) +
                     "\nThis name holds a character (an unpaired surrogate) that cannot be "
                     "processed.",
                 MB_OK | MB_ICONWARNING);
    return false;
}

// The extension as the C runtime's path splitting gives it, in any case.
bool is_encrypted_name(const char* path) {
    const std::string extension = split_source(path).extension;
    return extension.size() == 4 && extension[0] == '.' && (extension[1] | 0x20) == 'c' &&
           (extension[2] | 0x20) == 'r' && (extension[3] | 0x20) == 'y';
}

std::vector<std::string> entries_of(const InputList& inputs) {
    std::vector<std::string> entries;
    for (std::int32_t i = 0; i < inputs.count(); ++i) entries.emplace_back(inputs.at(i));
    return entries;
}

// The output questions answered without asking, for the line that shows
// where the result will go before Start is pressed.
class PreviewQuestions : public DialogQuestions {
  public:
    using DialogQuestions::DialogQuestions;
    std::optional<std::string> browse_folder(const char*, bool) override {
        asked = true;
        return std::nullopt;
    }
    std::optional<std::string> save_file(const char*, const std::string&) override {
        asked = true;
        return std::nullopt;
    }
    bool confirm_overwrite(const char*) override { return true; }
    void show_error(const char*) override {}
    bool asked = false;
};

}  // namespace

bool LockDialog::handle_message(HWND, UINT message, WPARAM wparam, LPARAM lparam, LRESULT& result) {
    static constexpr MessageEntry<LockDialog> map[] = {
        on_message(WM_INITDIALOG, &LockDialog::on_init_dialog),
        on_message(WM_DROPFILES, &LockDialog::on_drop_files),
        on_command(IDC_START, &LockDialog::on_start),
        on_command(IDOK, &LockDialog::on_enter),
        on_command(IDCANCEL, &LockDialog::on_escape),
        on_command(IDC_DECRYPT_PASSWORD, EN_CHANGE, &LockDialog::on_password_changed),
        on_command(IDC_CONFIRM_PASSWORD, EN_CHANGE, &LockDialog::on_password_changed),
        on_command(IDC_PASSWORD, EN_CHANGE, &LockDialog::on_password_changed),
        on_command(IDC_SHOW_PASSWORD, BN_CLICKED, &LockDialog::on_show_password),
        on_command(ID_FILE_OPEN, &LockDialog::on_open_files),
        on_command(ID_FILE_ENCRYPTION, &LockDialog::on_open_files),
        on_command(ID_FILE_DECRYPTION, &LockDialog::on_open_files),
        on_command(ID_FILE_OPEN_FOLDER, &LockDialog::on_open_folder),
        on_command(ID_FILE_EXIT, &LockDialog::on_escape),
        on_command(ID_OPTION_SETTINGS, &LockDialog::on_settings),
        on_command(ID_VERSION_INFORMATION, &LockDialog::on_about),
        on_message(WM_SYSCOMMAND, &LockDialog::on_system_command),
    };
    return dispatch_message_map(*this, map, message, wparam, lparam, result);
}

LRESULT LockDialog::on_init_dialog(WPARAM, LPARAM lparam, bool&) {
    insert_version_item(window());
    attach_menu();
    // Passwords are typed as single-byte characters: no input method.
    for (int id : {IDC_PASSWORD, IDC_CONFIRM_PASSWORD, IDC_DECRYPT_PASSWORD})
        ImmAssociateContext(GetDlgItem(window(), id), nullptr);
    mask_ =
        static_cast<wchar_t>(SendDlgItemMessageW(window(), IDC_PASSWORD, EM_GETPASSWORDCHAR, 0, 0));
    center_window(window());
    mode_ = static_cast<LockMode>(lparam);
    if (inputs_.count() > 0 && mode_ != lock_undetermined) {
        show_password_entry();
        return FALSE;  // the focus is set: in the password field
    }
    show_drop_prompt(mode_);
    return TRUE;
}

void LockDialog::attach_menu() {
    const HMENU menu = LoadMenuW(module_instance(), MAKEINTRESOURCEW(IDR_LOCK_MENU));
    if (!menu) return;
    RECT before{}, after{}, frame{};
    GetClientRect(window(), &before);
    if (!SetMenu(window(), menu)) {
        DestroyMenu(menu);
        return;
    }
    // The menu bar takes its height from the client area: the window grows
    // by as much, so the controls keep their room. (The window owns the
    // menu from here on and destroys it.)
    GetClientRect(window(), &after);
    GetWindowRect(window(), &frame);
    const int grow = (before.bottom - before.top) - (after.bottom - after.top);
    if (grow > 0)
        SetWindowPos(window(), nullptr, 0, 0, frame.right - frame.left,
                     frame.bottom - frame.top + grow, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (!links_.open_settings)
        EnableMenuItem(menu, ID_OPTION_SETTINGS, MF_BYCOMMAND | MF_GRAYED | MF_DISABLED);
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
    // Inputs are chosen only at the drop prompt.
    const HMENU menu = GetMenu(window());
    if (!menu) return;
    const UINT flags = MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED | MF_DISABLED);
    for (UINT id : {ID_FILE_OPEN, ID_FILE_OPEN_FOLDER, ID_FILE_ENCRYPTION, ID_FILE_DECRYPTION})
        EnableMenuItem(menu, id, flags);
}

void LockDialog::focus(int id) {
    // As the dialog manager moves the focus: the default button follows.
    SendMessageW(window(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(window(), id)), TRUE);
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
    int first_field;
    if (mode_ == lock_encrypt) {
        SetDlgItemTextA(window(), IDC_HEADING, "Encryption");
        show_controls(encryption_controls, std::size(encryption_controls), true);
        icon = IDI_LOCK;
        first_field = IDC_PASSWORD;
    } else {
        SetDlgItemTextA(window(), IDC_HEADING, "Decryption");
        show_controls(decryption_controls, std::size(decryption_controls), true);
        icon = IDI_UNLOCK;
        first_field = IDC_DECRYPT_PASSWORD;
    }
    show_controls(summary_controls, std::size(summary_controls), true);
    EnableWindow(GetDlgItem(window(), IDC_START), FALSE);
    SetDlgItemTextA(window(), IDC_INSTRUCTION, "Input the password and click Start.");
    show_summary();
    set_icon(icon);
    enable_menu_items(false);
    // The fields keep what they hold: Start follows it.
    bool handled = true;
    on_password_changed(EN_CHANGE, first_field, nullptr, handled);
    focus(first_field);
}

void LockDialog::show_summary() {
    const std::vector<std::string> entries = entries_of(inputs_);
    if (entries.empty()) return;
    std::string first(last_component(entries.front()));
    if (first.empty()) first = entries.front();  // a root is its own name
    SetDlgItemTextW(window(), IDC_DROP_SUMMARY,
                    win::widen(drop_summary(first, entries.size(), total_size(entries))).c_str());
    show_output_line();
}

void LockDialog::show_output_line() {
    PreviewQuestions preview(window());
    const std::optional<std::string> output =
        resolve_output_path(mode_, inputs_, settings_, preview);
    std::string line;
    if (output)
        line = "To: " + *output;
    else if (preview.asked)
        line = asked_later;
    SetDlgItemTextW(window(), IDC_OUTPUT_LINE, win::widen(line).c_str());
}

void LockDialog::accept_paths(const std::vector<std::wstring>& paths) {
    bool all_encrypted = !paths.empty();
    for (const std::wstring& path : paths) {
        if (!is_exact_path(window(), path)) continue;
        const std::string utf8 = win::narrow(path);
        inputs_.add(utf8.c_str());
        all_encrypted = all_encrypted && is_encrypted_name(utf8.c_str());
    }
    if (inputs_.count() == 0) return;  // nothing usable: still at the drop prompt
    DragAcceptFiles(window(), FALSE);
    if (mode_ == lock_undetermined) mode_ = all_encrypted ? lock_decrypt : lock_encrypt;
    show_password_entry();
}

LRESULT LockDialog::on_drop_files(WPARAM wparam, LPARAM, bool&) {
    const win::ScopedDrop owned(reinterpret_cast<HDROP>(wparam));
    const HDROP drop = owned.get();
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    std::vector<std::wstring> paths;
    for (UINT i = 0; i < count; ++i) {
        const UINT length = DragQueryFileW(drop, i, nullptr, 0);
        std::wstring path(length + 1, L'\0');
        if (DragQueryFileW(drop, i, path.data(), length + 1) != length) continue;
        path.resize(length);
        paths.push_back(std::move(path));
    }
    accept_paths(paths);
    return 0;
}

bool LockDialog::keep_password_characters(int id) {
    const std::wstring typed = read_edit(window(), id);
    std::wstring kept;
    DWORD caret = 0;
    SendDlgItemMessageW(window(), id, EM_GETSEL, reinterpret_cast<WPARAM>(&caret), 0);
    DWORD kept_caret = caret;
    for (std::size_t at = 0; at < typed.size();) {
        // A surrogate pair is one character.
        const std::size_t n =
            IS_HIGH_SURROGATE(typed[at]) && at + 1 < typed.size() && IS_LOW_SURROGATE(typed[at + 1])
                ? 2
                : 1;
        const std::wstring_view character(typed.data() + at, n);
        if (password_can_hold(character))
            kept += character;
        else if (at < caret)
            kept_caret -= static_cast<DWORD>(std::min<std::size_t>(n, caret - at));
        at += n;
    }
    if (kept.size() == typed.size()) return false;
    filtering_ = true;
    SetDlgItemTextW(window(), id, kept.c_str());
    SendDlgItemMessageW(window(), id, EM_SETSEL, kept_caret, kept_caret);
    filtering_ = false;
    return true;
}

void LockDialog::update_note(bool refused) {
    const char* note = "";
    const std::size_t first_length =
        read_edit(window(), mode_ == lock_encrypt ? IDC_PASSWORD : IDC_DECRYPT_PASSWORD).size();
    if (refused) {
        note = refused_note;
    } else if (first_length > max_password_length) {
        note = too_long_note;
    } else if (mode_ == lock_encrypt) {
        const std::wstring confirmation = read_edit(window(), IDC_CONFIRM_PASSWORD);
        if (!confirmation.empty() && confirmation != read_edit(window(), IDC_PASSWORD))
            note = mismatch_note;
    }
    SetDlgItemTextA(window(), IDC_PASSWORD_NOTE, note);
}

LRESULT LockDialog::on_password_changed(UINT, UINT id, HWND, bool&) {
    if (filtering_) return 0;
    const bool refused = keep_password_characters(static_cast<int>(id));
    const HWND start = GetDlgItem(window(), IDC_START);
    if (mode_ != lock_encrypt) {
        EnableWindow(start, !read_edit(window(), IDC_DECRYPT_PASSWORD).empty());
    } else {
        const std::wstring password = read_edit(window(), IDC_PASSWORD);
        EnableWindow(start,
                     !password.empty() && password == read_edit(window(), IDC_CONFIRM_PASSWORD));
    }
    update_note(refused);
    return 0;
}

LRESULT LockDialog::on_show_password(UINT, UINT, HWND, bool&) {
    const bool shown = IsDlgButtonChecked(window(), IDC_SHOW_PASSWORD) == BST_CHECKED;
    for (int id : {IDC_PASSWORD, IDC_CONFIRM_PASSWORD}) {
        SendDlgItemMessageW(window(), id, EM_SETPASSWORDCHAR, shown ? 0 : mask_, 0);
        InvalidateRect(GetDlgItem(window(), id), nullptr, TRUE);
    }
    return 0;
}

LRESULT LockDialog::on_enter(UINT, UINT, HWND, bool&) {
    // Enter starts the job only when Start itself could be pressed.
    const HWND start = GetDlgItem(window(), IDC_START);
    if (IsWindowVisible(start) && IsWindowEnabled(start))
        SendMessageW(window(), WM_COMMAND, MAKEWPARAM(IDC_START, BN_CLICKED),
                     reinterpret_cast<LPARAM>(start));
    return 0;
}

LRESULT LockDialog::on_escape(UINT, UINT, HWND, bool&) {
    EndDialog(window(), 0);
    return 0;
}

LRESULT LockDialog::on_start(UINT, UINT, HWND, bool&) {
    const HWND start = GetDlgItem(window(), IDC_START);
    if (!IsWindowVisible(start) || !IsWindowEnabled(start)) return 0;
    // Archives are keyed with the code page's bytes, as they always were.
    std::string password;
    if (!win::to_ansi(
            read_edit(window(), mode_ == lock_encrypt ? IDC_PASSWORD : IDC_DECRYPT_PASSWORD),
            password)) {
        show_message(window(), password_code_page_message, MB_OK | MB_ICONWARNING);
        return 0;
    }
    if (!password_length_ok(password.size())) {
        show_message(window(), password_length_message, MB_OK | MB_ICONWARNING);
        return 0;
    }
    if (mode_ == lock_encrypt)
        start_encryption(password);
    else
        start_decryption(password);
    return 0;
}

void LockDialog::report_failure(const char* direction, ResultCode result,
                                const FailureDetail& detail) {
    show_message(window(), failure_text(direction, result, detail),
                 MB_OK | (result == result_cancelled ? MB_ICONINFORMATION : MB_ICONERROR));
    // The button showed the failure while the message was up; the window
    // stays for another try, with a plain button.
    taskbar_progress().show(taskbar_window(window()), TaskbarState::none, 0, 0);
}

void LockDialog::report_success(const char* direction, const std::vector<std::string>& written) {
    if (show_message(window(), success_text(direction, written), MB_YESNO | MB_ICONINFORMATION) ==
            IDYES &&
        links_.show_in_folder)
        links_.show_in_folder(written);
    EndDialog(window(), 0);
}

void LockDialog::start_encryption(const std::string& password) {
    DialogQuestions questions(window());
    const std::optional<std::string> output =
        resolve_output_path(mode_, inputs_, settings_, questions);
    if (!output) return;  // the user stopped at a question

    FailureDetail detail;
    const JobRequest request{
        password.c_str(),     output->c_str(), mode_, inputs_, settings_.compression_level,
        &detail.refused_path, &detail.fault};
    const ResultCode result = run_job(window(), request);
    if (result == result_ok) return report_success("Encryption", {*output});
    // A failure keeps the window, its inputs and its password: the cause
    // may be mended and Start pressed again.
    if (detail.refused_path.empty() &&
        (result == result_open_output_failed || result == result_write_failed ||
         result == result_close_failed || result == result_file_system_limit))
        detail.refused_path = *output;
    report_failure("Encryption", result, detail);
    show_output_line();  // what is there has changed
}

void LockDialog::start_decryption(const std::string& password) {
    // Every destination is settled before the first archive is opened, so a
    // question cancelled stops everything, as for one archive.
    const std::vector<std::string> archives = entries_of(inputs_);
    std::vector<std::string> outputs;
    DialogQuestions questions(window());
    for (const std::string& archive : archives) {
        InputList one;
        one.add(archive.c_str());
        const std::optional<std::string> output =
            resolve_output_path(mode_, one, settings_, questions);
        if (!output) return;
        outputs.push_back(*output);
    }

    FailureDetail detail;
    for (std::size_t i = 0; i < archives.size(); ++i) {
        InputList one;
        one.add(archives[i].c_str());
        platform::FindData before;
        const bool existed = platform::find_path(outputs[i].c_str(), before);
        const JobRequest request{
            password.c_str(),     outputs[i].c_str(), mode_, one, settings_.compression_level,
            &detail.refused_path, &detail.fault};
        const ResultCode result = run_job(window(), request);
        if (result == result_ok) {
            detail.done.push_back(outputs[i]);
            continue;
        }
        if (detail.refused_path.empty()) detail.refused_path = archives[i];
        platform::FindData after;
        if (platform::find_path(outputs[i].c_str(), after) && after.is_folder) {
            detail.destination = outputs[i];
            detail.restored = existed ? -1 : count_files(outputs[i]);
        }
        report_failure("Decryption", result, detail);
        if (result == result_bad_password) {
            // Typed again from the start.
            SetDlgItemTextW(window(), IDC_DECRYPT_PASSWORD, L"");
            focus(IDC_DECRYPT_PASSWORD);
        }
        return;
    }
    report_success("Decryption", outputs);
}

LRESULT LockDialog::on_open_files(UINT, UINT id, HWND, bool&) {
    static constexpr wchar_t all_files[] = L"All files (*.*)\0*.*\0";
    static constexpr wchar_t archives[] = L"Encryption file (*.cry)\0*.cry\0All files (*.*)\0*.*\0";
    FileDialogHost dialog(true, nullptr, "",
                          OFN_ALLOWMULTISELECT | OFN_FILEMUSTEXIST | OFN_HIDEREADONLY,
                          id == ID_FILE_DECRYPTION ? archives : all_files, GetActiveWindow());
    std::vector<wchar_t> selection(selection_buffer_size, L'\0');
    OPENFILENAMEW& d = dialog.descriptor();
    d.lpstrTitle = id == ID_FILE_ENCRYPTION   ? L"Select the file to be encrypted."
                   : id == ID_FILE_DECRYPTION ? L"Select the file to be decrypted."
                                              : L"Select the files to encrypt or decrypt.";
    d.lpstrFile = selection.data();
    d.nMaxFile = static_cast<DWORD>(selection.size());
    if (!dialog.run()) return 0;

    // One file: its full path. Several: the folder, then each name, each
    // terminated, the list ended by an empty name. Each path still has to
    // fit the platform's path limit.
    std::vector<std::wstring> paths;
    const auto add = [&paths](const std::wstring& path) {
        if (path.size() < MAX_PATH) paths.push_back(path);
    };
    const std::wstring folder = selection.data();
    const wchar_t* name = selection.data() + folder.size() + 1;
    if (!*name) add(folder);
    for (; *name; name += std::wcslen(name) + 1) add(folder + L"\\" + name);
    // The two direction items choose it; Open lets the names choose.
    if (id == ID_FILE_ENCRYPTION) mode_ = lock_encrypt;
    if (id == ID_FILE_DECRYPTION) mode_ = lock_decrypt;
    accept_paths(paths);
    return 0;
}

LRESULT LockDialog::on_open_folder(UINT, UINT, HWND, bool&) {
    const std::optional<std::string> folder =
        browse_for_folder(window(), "Select the folder to be encrypted.", false);
    if (!folder) return 0;
    mode_ = lock_encrypt;  // a folder is never an archive to decrypt
    accept_paths({win::widen(*folder)});
    return 0;
}

LRESULT LockDialog::on_settings(UINT, UINT, HWND, bool&) {
    if (!links_.open_settings) return 0;
    links_.open_settings(window());
    // Where the result goes may have changed.
    if (inputs_.count() > 0) show_output_line();
    return 0;
}

LRESULT LockDialog::on_about(UINT, UINT, HWND, bool&) {
    show_about_box(window());
    return 0;
}

LRESULT LockDialog::on_system_command(WPARAM wparam, LPARAM, bool& handled) {
    return korvane::on_system_command(window(), wparam, handled);
}

INT_PTR run_lock_dialog(LockMode start_mode, InputList& inputs, const Settings& settings,
                        LockDialogLinks links) {
    LockDialog dialog(inputs, settings, std::move(links));
    return run_modal(dialog, nullptr, start_mode);
}

}  // namespace korvane
