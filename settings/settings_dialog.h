// The settings dialog: a tab control over the four pages, OK and Cancel.
// OK applies every page, saves the settings to their INI path and changes the
// desktop integration; Cancel, Escape or the close box change nothing.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>

#include "resources/resource_ids.h"
#include "settings/settings.h"
#include "settings/settings_pages.h"
#include "shell/shell_paths.h"
#include "ui/dialog_base.h"

namespace korvane {

inline constexpr std::size_t settings_page_count = 4;

class SettingsDialog : public DialogBase {
  public:
    static constexpr int idd = IDD_SETTINGS;

    // settings and paths must outlive the dialog.
    SettingsDialog(Settings& settings, const ShellPaths& paths,
                   StartUpActions actions = default_start_up_actions());

    bool handle_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                        LRESULT& result) override;

    // The pages in tab order: Encryption, Decryption, Compression, StartUp.
    DialogBase& page(std::size_t index) { return tabs_[index].page; }

  private:
    struct Tab {
        const char* name;
        int template_id;
        DialogBase& page;
    };

    LRESULT on_init_dialog(WPARAM wparam, LPARAM lparam, bool& handled);
    LRESULT on_tab_changed(const NMHDR& header, bool& handled);
    LRESULT on_ok(UINT code, UINT id, HWND control, bool& handled);
    LRESULT on_cancel(UINT code, UINT id, HWND control, bool& handled);
    LRESULT on_next_control(WPARAM wparam, LPARAM lparam, bool& handled);
    LRESULT on_system_command(WPARAM wparam, LPARAM lparam, bool& handled);

    void dpi_changed() override;
    void place_pages();
    void show_page(int selected);

    Settings& settings_;
    EncryptionPage encryption_;
    DecryptionPage decryption_;
    CompressionPage compression_;
    StartUpPage start_up_;
    const std::array<Tab, settings_page_count> tabs_;
};

// Runs the settings dialog modally; its result is 0, or -1 when it cannot be
// shown.
INT_PTR run_settings_dialog(Settings& settings, const ShellPaths& paths, HWND owner);

}  // namespace korvane
