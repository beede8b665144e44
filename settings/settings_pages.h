// The four pages of the settings dialog. Each reads the settings record it
// was given when it is created and writes it back only when the dialog sends
// wm_page_apply.
#pragma once

#include <windows.h>

#include <functional>

#include "resources/resource_ids.h"
#include "settings/settings.h"
#include "shell/shell_paths.h"
#include "ui/dialog_base.h"

namespace korvane {

// The INI file keeps the ANSI code page, so a folder it cannot hold is
// refused, when browsed to and at OK.
inline constexpr const char* unstorable_folder_message =
    "This folder name has characters that cannot be saved in the settings.\n"
    "Please choose another folder.";

class SettingsPage : public DialogBase {
  public:
    explicit SettingsPage(Settings& settings) : settings_(settings) {}

  protected:
    Settings& settings_;
};

class EncryptionPage : public SettingsPage {
  public:
    static constexpr int idd = IDD_PAGE_ENCRYPTION;
    using SettingsPage::SettingsPage;

    bool handle_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                        LRESULT& result) override;

  private:
    LRESULT on_init_dialog(WPARAM wparam, LPARAM lparam, bool& handled);
    LRESULT on_destination(UINT code, UINT id, HWND control, bool& handled);
    LRESULT on_name(UINT code, UINT id, HWND control, bool& handled);
    LRESULT on_browse(UINT code, UINT id, HWND control, bool& handled);
    LRESULT on_refuses(WPARAM wparam, LPARAM lparam, bool& handled);
    LRESULT on_apply(WPARAM wparam, LPARAM lparam, bool& handled);
};

class DecryptionPage : public SettingsPage {
  public:
    static constexpr int idd = IDD_PAGE_DECRYPTION;
    using SettingsPage::SettingsPage;

    bool handle_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                        LRESULT& result) override;

  private:
    LRESULT on_init_dialog(WPARAM wparam, LPARAM lparam, bool& handled);
    LRESULT on_destination(UINT code, UINT id, HWND control, bool& handled);
    LRESULT on_browse(UINT code, UINT id, HWND control, bool& handled);
    LRESULT on_refuses(WPARAM wparam, LPARAM lparam, bool& handled);
    LRESULT on_apply(WPARAM wparam, LPARAM lparam, bool& handled);
};

class CompressionPage : public SettingsPage {
  public:
    static constexpr int idd = IDD_PAGE_COMPRESSION;
    using SettingsPage::SettingsPage;

    bool handle_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                        LRESULT& result) override;

  private:
    LRESULT on_init_dialog(WPARAM wparam, LPARAM lparam, bool& handled);
    LRESULT on_slider_moved(WPARAM wparam, LPARAM lparam, bool& handled);
    LRESULT on_apply(WPARAM wparam, LPARAM lparam, bool& handled);
    // The label beside the slider names the level it stands on.
    void show_level_name();
};

// The shell actions the start-up page takes, replaceable so that a test can
// watch them; the defaults are the real ones.
struct StartUpActions {
    std::function<int()> notify_association_changed;
    // Registers or removes the context-menu handler; empty: in this process.
    std::function<void(bool wanted, const ShellPaths& paths)> set_menu_handler;
};
StartUpActions default_start_up_actions();

// Works on the shortcuts and the handler registration, not on the record.
class StartUpPage : public DialogBase {
  public:
    static constexpr int idd = IDD_PAGE_STARTUP;

    StartUpPage(const ShellPaths& paths, StartUpActions actions)
        : paths_(paths), actions_(std::move(actions)) {}

    bool handle_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                        LRESULT& result) override;

  private:
    LRESULT on_init_dialog(WPARAM wparam, LPARAM lparam, bool& handled);
    LRESULT on_apply(WPARAM wparam, LPARAM lparam, bool& handled);

    const ShellPaths& paths_;
    StartUpActions actions_;
    // The state found at opening; apply acts only where a box differs.
    bool lock_shortcut_present_ = false;
    bool unlock_shortcut_present_ = false;
    bool menu_handler_registered_ = false;
};

// Compression levels as the trackbar shows them: 0 low, 1 normal, 2 high.
int trackbar_position_for(int compression_level);
int compression_level_for(int trackbar_position);
// What the label beside the slider says for a position.
const char* compression_level_name(int trackbar_position);

}  // namespace korvane
