// The main window: files are dropped or chosen, the direction is decided or
// kept, the password typed, and one job runs from the Start button. After
// the job's message the dialog ends, and with it the program.
#pragma once

#include <windows.h>

#include <cstdint>

#include "resources/resource_ids.h"
#include "ui/dialog_base.h"

namespace korvane {

// 0 undetermined, 1 encryption, 2 decryption. Wherever the direction is
// tested, 1 means encryption and every other value decryption.
using LockMode = std::int32_t;
inline constexpr LockMode lock_undetermined = 0;
inline constexpr LockMode lock_encrypt = 1;
inline constexpr LockMode lock_decrypt = 2;

// Passwords are 1 to 63 bytes; the edits are read with one byte more so that
// a 64th byte is seen and refused.
inline constexpr int max_password_length = 63;

class LockDialog : public DialogBase {
public:
    static constexpr int idd = IDD_LOCK;

    bool handle_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                        LRESULT& result) override;
    LockMode mode() const { return mode_; }

private:
    LRESULT on_init_dialog(WPARAM wparam, LPARAM lparam, bool& handled);
    LRESULT on_drop_files(WPARAM wparam, LPARAM lparam, bool& handled);
    LRESULT on_start(UINT code, UINT id, HWND control, bool& handled);
    LRESULT on_password_changed(UINT code, UINT id, HWND control, bool& handled);
    LRESULT on_open_files(UINT code, UINT id, HWND control, bool& handled);
    LRESULT on_system_command(WPARAM wparam, LPARAM lparam, bool& handled);

    void show_drop_prompt(LockMode mode);
    void show_password_entry();
    void show_controls(const int* ids, std::size_t count, bool visible);
    void set_icon(int icon_id);
    void enable_menu_items(bool enabled);

    LockMode mode_ = lock_undetermined;
    HICON icon_ = nullptr;  // shared icon from the module: never destroyed
};

// Runs the lock dialog modally with no owner; its result is always 0.
INT_PTR run_lock_dialog(LockMode start_mode);

}  // namespace korvane
