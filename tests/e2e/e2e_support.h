// Drives korvane.exe as a real process: started with a command line, its
// windows found by caption among the windows of that process, controls set
// and buttons pressed by message, the final message box read and dismissed.
// Every wait is bounded.
#pragma once

#include <windows.h>

#include <string>

namespace korvane::test {

// korvane.exe as built beside the test programs.
std::string product_path();
// A path relative to the test programs' folder.
std::string beside_tests(const std::string& relative);

class ProductProcess {
  public:
    // Starts exe with the arguments (the part after the program name), both
    // UTF-8.
    ProductProcess(const std::string& exe, const std::string& arguments);
    ~ProductProcess();  // ends the process if it is still running
    ProductProcess(const ProductProcess&) = delete;
    ProductProcess& operator=(const ProductProcess&) = delete;

    bool started() const { return process_ != nullptr; }
    // A visible top-level window of the process with that caption, waiting
    // up to timeout_ms; null when none appeared.
    HWND wait_for_window(const char* caption, DWORD timeout_ms = 30000) const;
    // The same, among the windows that hold a control of that id: the
    // program's dialogs and its message boxes share one caption.
    HWND wait_for_window(const char* caption, int control_id, DWORD timeout_ms) const;
    // A message box of the process: the program's caption and a text.
    HWND wait_for_message(DWORD timeout_ms = 60000) const;
    // The program's main window, told from its message boxes by its heading.
    HWND wait_for_main_window(DWORD timeout_ms = 30000) const;
    // The exit code, waiting up to timeout_ms; -1 when it did not end.
    int wait_for_exit(DWORD timeout_ms = 60000);

  private:
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
};

// Text of a control of another process (marshalled WM_GETTEXT).
std::string control_text(HWND dialog, int id);
// Sets an edit's text; the edit then notifies its dialog as after typing.
void set_control_text(HWND dialog, int id, const std::string& text);
// Presses a push button of the dialog.
void press_button(HWND dialog, int id);
// Types text into a control as a keyboard does: one WM_CHAR per UTF-16
// unit, queued behind what was posted before and ahead of what follows.
void type_keys(HWND dialog, int id, const std::wstring& text);
// The text of a message box, UTF-8.
std::string message_box_text(HWND box);
// Waits until the window is gone; false after timeout_ms.
bool wait_until_gone(HWND window, DWORD timeout_ms = 30000);

}  // namespace korvane::test
