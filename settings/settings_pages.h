// The four pages of the settings dialog. Each reads current_settings when it
// is created and writes it back only when the dialog sends wm_page_apply.
#pragma once

#include <windows.h>

#include <functional>

#include "shell/shell_paths.h"
#include "ui/dialog_base.h"

namespace korvane {

class EncryptionPage : public DialogBase {
  public:
    bool handle_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                        LRESULT& result) override;

  private:
    LRESULT on_init_dialog(WPARAM wparam, LPARAM lparam, bool& handled);
    LRESULT on_destination(WPARAM wparam, LPARAM lparam, bool& handled);
    LRESULT on_name(WPARAM wparam, LPARAM lparam, bool& handled);
    LRESULT on_browse(WPARAM wparam, LPARAM lparam, bool& handled);
    LRESULT on_apply(WPARAM wparam, LPARAM lparam, bool& handled);
};

class DecryptionPage : public DialogBase {
  public:
    bool handle_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                        LRESULT& result) override;

  private:
    LRESULT on_init_dialog(WPARAM wparam, LPARAM lparam, bool& handled);
    LRESULT on_destination(WPARAM wparam, LPARAM lparam, bool& handled);
    LRESULT on_browse(WPARAM wparam, LPARAM lparam, bool& handled);
    LRESULT on_apply(WPARAM wparam, LPARAM lparam, bool& handled);
};

class CompressionPage : public DialogBase {
  public:
    bool handle_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                        LRESULT& result) override;

  private:
    LRESULT on_init_dialog(WPARAM wparam, LPARAM lparam, bool& handled);
    LRESULT on_apply(WPARAM wparam, LPARAM lparam, bool& handled);
};

// The shell actions the start-up page takes, replaceable so that a test can
// watch them; the defaults are the real ones.
struct StartUpActions {
    std::function<int()> notify_association_changed;
};
StartUpActions default_start_up_actions();

class StartUpPage : public DialogBase {
  public:
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

}  // namespace korvane
