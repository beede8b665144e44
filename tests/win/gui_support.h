// Helpers for driving our dialogs in-process: a script of steps run from a
// thread timer while the test thread sits in a modal loop, and lookups of
// this thread's windows. Every wait is bounded. Free of the test framework,
// so that the screenshot tool drives the dialogs with them too.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "ops/taskbar_progress.h"

namespace korvane::test {

// Where a script reports what went wrong; each program that links these
// helpers defines it (a test failure in the test programs).
void report_failure(const std::string& message);

// The top-level window of this thread with that caption, or null. Other test
// programs share the Wine desktop, so a global lookup could find theirs.
// With a control_id, only among the windows that hold a control of that id:
// the program's dialogs and its message boxes share one caption. A message
// box holds its text in message_box_text_id.
HWND find_thread_window(const char* caption, int control_id = 0);
inline constexpr int message_box_text_id = 0xFFFF;
std::string window_text(HWND window);

// A drop of these UTF-8 paths as the shell delivers it (a DROPFILES block of
// UTF-16 names); the receiving window releases it with DragFinish.
HDROP make_drop(const std::vector<std::string>& paths);

// Destroys a modeless window when the test leaves its scope, whatever failed,
// so that no window outlives the object that serves it.
struct DestroyOnExit {
    HWND window;
    ~DestroyOnExit() {
        if (window && IsWindow(window)) DestroyWindow(window);
    }
};

// Posts a key press where the dialog manager of a modal loop looks for it:
// to the focused control of the dialog, or to the dialog itself.
void press_key(HWND dialog, UINT virtual_key);

// Steps run one after another, one attempt per timer tick, from whatever
// message loop the thread is in. A step returns true when done and false to
// be tried again on the next tick. Past the deadline the script ends every
// dialog of the thread (so nothing hangs) and reports a failure.
class Script {
  public:
    using Step = std::function<bool()>;

    explicit Script(DWORD deadline_ms = 30000);
    ~Script();
    Script(const Script&) = delete;
    Script& operator=(const Script&) = delete;

    Script& then(Step step);
    // A step that waits until the caption appears on this thread; the window
    // is stored in *found.
    Script& wait_for_window(const char* caption, HWND* found);
    // Only a window with a control of that id counts.
    Script& wait_for_window(const char* caption, int control_id, HWND* found);
    Script& wait_until_gone(const HWND* window);
    Script& pause(DWORD ms);

    // Starts ticking; the steps run once the thread enters a message loop.
    void start();
    bool finished() const { return next_ == steps_.size(); }
    bool timed_out() const { return timed_out_; }

  private:
    static void CALLBACK tick(HWND, UINT, UINT_PTR id, DWORD);
    void run_once();
    void rescue();

    std::vector<Step> steps_;
    std::size_t next_ = 0;
    DWORD deadline_ms_;
    DWORD started_ = 0;
    UINT_PTR timer_ = 0;
    bool busy_ = false;
    bool timed_out_ = false;
};

// Saves a PNG of the window's screen rectangle, taken by ImageMagick's import
// from the X display, as screenshots/NAME.png under the working directory
// (the build's tests folder). Asynchronous: start, then poll done() from a
// script step so the dialog keeps being served meanwhile.
class Screenshot {
  public:
    // False when the capture could not be started (not under Wine, no X).
    bool start(HWND window, const std::string& name);
    bool done() const;
    const std::string& unix_path() const { return unix_path_; }
    const std::string& windows_path() const { return windows_path_; }

  private:
    std::string unix_path_, windows_path_;
};

// The taskbar calls as the seam receives them.
class RecordingTaskbar : public TaskbarProgress {
  public:
    struct Call {
        HWND window;
        TaskbarState state;
        std::uint64_t done, total;
        DWORD at;
    };
    RecordingTaskbar() { set_taskbar_progress(this); }
    ~RecordingTaskbar() override { set_taskbar_progress(nullptr); }
    void show(HWND window, TaskbarState state, std::uint64_t done, std::uint64_t total) override {
        calls.push_back({window, state, done, total, GetTickCount()});
    }
    const Call* last() const { return calls.empty() ? nullptr : &calls.back(); }
    std::vector<Call> calls;
};

}  // namespace korvane::test
