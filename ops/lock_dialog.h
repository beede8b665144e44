// The main window: files are dropped or chosen, the direction is decided or
// kept, the password typed, and the job runs from the Start button. A job
// that succeeds ends the dialog, and with it the program; after a failure the
// dialog stays with its inputs, so that Start may be pressed again.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/input_list.h"
#include "ops/job_messages.h"
#include "resources/resource_ids.h"
#include "settings/settings.h"
#include "ui/dialog_base.h"

namespace korvane {

// 0 undetermined, 1 encryption, 2 decryption. Wherever the direction is
// tested, 1 means encryption and every other value decryption.
using LockMode = std::int32_t;
inline constexpr LockMode lock_undetermined = 0;
inline constexpr LockMode lock_encrypt = 1;
inline constexpr LockMode lock_decrypt = 2;

// What the dialog reaches beyond itself.
struct LockDialogLinks {
    // Runs the settings dialog owned by the given window; without it the
    // menu's Settings item is greyed.
    std::function<void(HWND owner)> open_settings;
    ShowInFolder show_in_folder = show_in_explorer;
};

class LockDialog : public DialogBase {
  public:
    static constexpr int idd = IDD_LOCK;

    // The dialog fills and empties inputs and reads settings; both must
    // outlive it.
    LockDialog(InputList& inputs, const Settings& settings, LockDialogLinks links = {})
        : inputs_(inputs), settings_(settings), links_(std::move(links)) {}

    bool handle_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                        LRESULT& result) override;
    LockMode mode() const { return mode_; }

  private:
    LRESULT on_init_dialog(WPARAM wparam, LPARAM lparam, bool& handled);
    LRESULT on_drop_files(WPARAM wparam, LPARAM lparam, bool& handled);
    LRESULT on_start(UINT code, UINT id, HWND control, bool& handled);
    LRESULT on_enter(UINT code, UINT id, HWND control, bool& handled);
    LRESULT on_escape(UINT code, UINT id, HWND control, bool& handled);
    LRESULT on_password_changed(UINT code, UINT id, HWND control, bool& handled);
    LRESULT on_show_password(UINT code, UINT id, HWND control, bool& handled);
    LRESULT on_open_files(UINT code, UINT id, HWND control, bool& handled);
    LRESULT on_open_folder(UINT code, UINT id, HWND control, bool& handled);
    LRESULT on_settings(UINT code, UINT id, HWND control, bool& handled);
    LRESULT on_about(UINT code, UINT id, HWND control, bool& handled);
    LRESULT on_system_command(WPARAM wparam, LPARAM lparam, bool& handled);

    void attach_menu();
    void show_drop_prompt(LockMode mode);
    void show_password_entry();
    // Takes the paths (UTF-16, as the shell gives them) as inputs; with no
    // direction yet, all archives choose decryption and anything else
    // encryption.
    void accept_paths(const std::vector<std::wstring>& paths);
    void show_controls(const int* ids, std::size_t count, bool visible);
    void set_icon(int icon_id);
    void enable_menu_items(bool enabled);
    void focus(int id);
    // Removes what a password cannot hold from the field, keeping the rest
    // and the caret; true when something was removed.
    bool keep_password_characters(int id);
    void update_note(bool refused);
    // The drop line and, through show_output_line, where the result goes.
    void show_summary();
    void show_output_line();
    // One job for the inputs; decryption runs each archive in turn.
    void start_encryption(const std::string& password);
    void start_decryption(const std::string& password);
    void report_success(const char* direction, const std::vector<std::string>& written);
    void report_failure(const char* direction, ResultCode result, const FailureDetail& detail);

    InputList& inputs_;
    const Settings& settings_;
    LockDialogLinks links_;
    LockMode mode_ = lock_undetermined;
    HICON icon_ = nullptr;    // shared icon from the module: never destroyed
    wchar_t mask_ = 0;        // the edits' own masking character
    bool filtering_ = false;  // a field is being rewritten: not a user's change
};

// Runs the lock dialog modally with no owner over inputs (the paths given on
// the command line, if any); its result is always 0.
INT_PTR run_lock_dialog(LockMode start_mode, InputList& inputs, const Settings& settings,
                        LockDialogLinks links = {});

}  // namespace korvane
