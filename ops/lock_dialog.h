// The main window: files are dropped or chosen, the direction is decided or
// kept, the password typed, and one job runs from the Start button. After
// the job's message the dialog ends, and with it the program.
#pragma once

#include <windows.h>

#include <cstdint>

#include "app/input_list.h"
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

class LockDialog : public DialogBase {
public:
    static constexpr int idd = IDD_LOCK;

    // The dialog fills and empties inputs and reads settings; both must
    // outlive it.
    LockDialog(InputList& inputs, const Settings& settings)
        : inputs_(inputs), settings_(settings) {}

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

    InputList& inputs_;
    const Settings& settings_;
    LockMode mode_ = lock_undetermined;
    HICON icon_ = nullptr;  // shared icon from the module: never destroyed
};

// Runs the lock dialog modally with no owner over inputs (the paths given on
// the command line, if any); its result is always 0.
INT_PTR run_lock_dialog(LockMode start_mode, InputList& inputs, const Settings& settings);

}  // namespace korvane
