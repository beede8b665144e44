#include "ops/taskbar_progress.h"

#include <shobjidl.h>

#include <new>

#include "platform/win32/scoped_win.h"
#include "ui/dialog_base.h"

namespace korvane {
namespace {

TaskbarProgress* chosen = nullptr;

TBPFLAG flag_for(TaskbarState state) {
    switch (state) {
        case TaskbarState::normal:
            return TBPF_NORMAL;
        case TaskbarState::paused:
            return TBPF_PAUSED;
        case TaskbarState::error:
            return TBPF_ERROR;
        case TaskbarState::none:
            break;
    }
    return TBPF_NOPROGRESS;
}

}  // namespace

struct ShellTaskbar::List {
    win::ComPtr<ITaskbarList3> list;
    HWND made_for = nullptr;  // the button window the list was made for, or tried
};

TaskbarProgress& taskbar_progress() {
    static ShellTaskbar shell;
    return chosen ? *chosen : shell;
}

void set_taskbar_progress(TaskbarProgress* progress) {
    chosen = progress;
}

HWND taskbar_window(HWND window) {
    const HWND root = window ? GetAncestor(window, GA_ROOTOWNER) : nullptr;
    return root ? root : window;
}

ShellTaskbar::ShellTaskbar() = default;
ShellTaskbar::~ShellTaskbar() = default;

void ShellTaskbar::show(HWND window, TaskbarState state, std::uint64_t done, std::uint64_t total) {
    if (!window || !has_taskbar_button(window)) return;
    if (!list_) {
        list_.reset(new (std::nothrow) List);
        if (!list_) return;
    }
    if (list_->made_for != window) {
        // Tried once per window: a shell without the list answers the same
        // every time.
        list_->made_for = window;
        list_->list.reset();
        win::ComPtr<ITaskbarList3> made;
        if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_ITaskbarList3, made.put_void())) &&
            SUCCEEDED(made->HrInit()))
            list_->list = std::move(made);
    }
    ITaskbarList3* const list = list_->list.get();
    if (!list) return;
    // Failures leave the button as it was; the job goes on.
    list->SetProgressState(window, flag_for(state));
    if (state != TaskbarState::none && total != 0)
        list->SetProgressValue(window, done < total ? done : total, total);
    // Every job ends with none: the list goes back then, while COM is still
    // up, never from this object's static destructor after it is shut down.
    if (state == TaskbarState::none) list_.reset();
}

}  // namespace korvane
