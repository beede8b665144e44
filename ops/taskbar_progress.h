// The job's progress on the program's taskbar button. The dialogs speak to
// the TaskbarProgress interface; the program's is the shell's ITaskbarList3,
// and a test puts a recording one in its place.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

namespace korvane {

enum class TaskbarState { none, normal, paused, error };

class TaskbarProgress {
  public:
    virtual ~TaskbarProgress() = default;
    // window: the one the taskbar shows a button for. done and total count
    // only in the normal, paused and error states.
    virtual void show(HWND window, TaskbarState state, std::uint64_t done, std::uint64_t total) = 0;
};

// What the dialogs call: the shell's taskbar unless a test set another.
TaskbarProgress& taskbar_progress();
// Sets the one taskbar_progress gives; null puts the shell's back. The
// object must outlive its use.
void set_taskbar_progress(TaskbarProgress* progress);

// The window whose taskbar button stands for this one: its root owner.
HWND taskbar_window(HWND window);

// ITaskbarList3, made once the shell has told the window that its button
// exists ("TaskbarButtonCreated"). Where the shell has no taskbar list or
// the calls fail, the button stays plain: nothing else depends on it.
class ShellTaskbar : public TaskbarProgress {
  public:
    ShellTaskbar();
    ~ShellTaskbar() override;
    ShellTaskbar(const ShellTaskbar&) = delete;
    ShellTaskbar& operator=(const ShellTaskbar&) = delete;

    void show(HWND window, TaskbarState state, std::uint64_t done, std::uint64_t total) override;

  private:
    struct List;
    std::unique_ptr<List> list_;
};

}  // namespace korvane
