// The settings dialog: a tab control over the four pages and an OK button.
// OK applies every page, saves the settings and changes the desktop
// integration; closing it any other way changes nothing.
#pragma once

#include <windows.h>

#include <cstddef>

#include "settings/settings_pages.h"
#include "shell/shell_paths.h"
#include "ui/dialog_base.h"

namespace korvane {

inline constexpr std::size_t settings_page_count = 4;

class SettingsDialog : public DialogBase {
  public:
    explicit SettingsDialog(const ShellPaths& paths = shell_paths,
                            StartUpActions actions = default_start_up_actions())
        : start_up_(paths, std::move(actions)) {}

    bool handle_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                        LRESULT& result) override;

    // The pages in tab order: Encryption, Decryption, Compression, StartUp.
    DialogBase& page(std::size_t index);

  private:
    LRESULT on_init_dialog(WPARAM wparam, LPARAM lparam, bool& handled);
    LRESULT on_tab_changed(WPARAM wparam, LPARAM lparam, bool& handled);
    LRESULT on_ok(WPARAM wparam, LPARAM lparam, bool& handled);
    LRESULT on_system_command(WPARAM wparam, LPARAM lparam, bool& handled);

    void place_pages();
    void show_page(int selected);

    EncryptionPage encryption_;
    DecryptionPage decryption_;
    CompressionPage compression_;
    StartUpPage start_up_;
};

// Runs the settings dialog modally; its result is 0, or -1 when it cannot be
// shown.
INT_PTR run_settings_dialog(HWND owner);
INT_PTR run_settings_dialog(SettingsDialog& dialog, HWND owner);

}  // namespace korvane
