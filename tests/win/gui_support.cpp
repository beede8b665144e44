#include "gui_support.h"

#include <shlobj.h>

#include <cstdio>
#include <cstring>

#include "platform/win32/scoped_win.h"
#include "platform/win32/wide.h"

namespace korvane::test {
namespace {

Script* running_script = nullptr;

struct CaptionSearch {
    const char* caption;
    HWND found;
    int control_id = 0;  // 0: any window
};

BOOL CALLBACK match_caption(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<CaptionSearch*>(context);
    if (window_text(window) != search->caption) return TRUE;
    if (search->control_id != 0 && !GetDlgItem(window, search->control_id)) return TRUE;
    search->found = window;
    return FALSE;
}

BOOL CALLBACK collect_dialog(HWND window, LPARAM context) {
    char name[16] = {};
    GetClassNameA(window, name, sizeof name);
    if (std::string(name) == "#32770")
        reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
    return TRUE;
}

}  // namespace

HWND find_thread_window(const char* caption, int control_id) {
    CaptionSearch search{caption, nullptr, control_id};
    EnumThreadWindows(GetCurrentThreadId(), match_caption, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string window_text(HWND window) {
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

void press_key(HWND dialog, UINT virtual_key) {
    HWND target = GetFocus();
    if (!target || (target != dialog && !IsChild(dialog, target))) target = dialog;
    PostMessageA(target, WM_KEYDOWN, virtual_key, 1);
    PostMessageA(target, WM_KEYUP, virtual_key, 0xC0000001);
}

Script::Script(DWORD deadline_ms) : deadline_ms_(deadline_ms) {}

Script::~Script() {
    if (timer_) KillTimer(nullptr, timer_);
    if (running_script == this) running_script = nullptr;
}

Script& Script::then(Step step) {
    steps_.push_back(std::move(step));
    return *this;
}

Script& Script::wait_for_window(const char* caption, HWND* found) {
    return wait_for_window(caption, 0, found);
}

Script& Script::wait_for_window(const char* caption, int control_id, HWND* found) {
    return then([caption, control_id, found] {
        *found = find_thread_window(caption, control_id);
        return *found && IsWindowVisible(*found);
    });
}

Script& Script::wait_until_gone(const HWND* window) {
    return then([window] { return !IsWindow(*window); });
}

Script& Script::pause(DWORD ms) {
    return then([ms, since = DWORD{0}]() mutable {
        if (!since) since = GetTickCount() | 1;
        return GetTickCount() - since >= ms;
    });
}

void Script::start() {
    if (running_script) {
        report_failure("one script at a time");
        return;
    }
    running_script = this;
    started_ = GetTickCount();
    timer_ = SetTimer(nullptr, 0, 15, tick);
    if (!timer_) report_failure("SetTimer failed: " + std::to_string(GetLastError()));
}

void CALLBACK Script::tick(HWND, UINT, UINT_PTR id, DWORD) {
    if (running_script && running_script->timer_ == id) running_script->run_once();
}

void Script::run_once() {
    // A step that enters a nested modal loop gets ticks from inside it.
    if (busy_) return;
    busy_ = true;
    if (GetTickCount() - started_ > deadline_ms_) {
        rescue();
    } else if (next_ < steps_.size() && steps_[next_]()) {
        ++next_;
    }
    busy_ = false;
}

void Script::rescue() {
    std::vector<HWND> dialogs;
    EnumThreadWindows(GetCurrentThreadId(), collect_dialog, reinterpret_cast<LPARAM>(&dialogs));
    if (!timed_out_ && (!finished() || !dialogs.empty())) {
        timed_out_ = true;
        report_failure("script timed out at step " + std::to_string(next_ + 1) + " of " +
                       std::to_string(steps_.size()));
    }
    for (HWND dialog : dialogs) EndDialog(dialog, -99);
}

bool Screenshot::start(HWND window, const std::string& name) {
    using UnixName = char*(CDECL*)(const WCHAR*);
    const auto unix_name = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    RECT rect{};
    char folder[MAX_PATH] = {};
    if (!unix_name || !GetWindowRect(window, &rect) || !GetCurrentDirectoryA(MAX_PATH, folder)) {
        return false;
    }
    windows_path_ = std::string(folder) + "\\screenshots";
    CreateDirectoryA(windows_path_.c_str(), nullptr);
    WCHAR wide[MAX_PATH] = {};
    if (!MultiByteToWideChar(CP_ACP, 0, windows_path_.c_str(), -1, wide, MAX_PATH)) return false;
    char* unix_folder = unix_name(wide);
    if (!unix_folder) return false;
    unix_path_ = std::string(unix_folder) + "/" + name + ".png";
    HeapFree(GetProcessHeap(), 0, unix_folder);
    windows_path_ += "\\" + name + ".png";
    DeleteFileA(windows_path_.c_str());

    // Wine starts Unix programs too; the capture is moved into place only
    // once complete, so done() never sees half a file.
    char command[2048];
    std::snprintf(command, sizeof command,
                  "/bin/sh -c \"/usr/bin/import -window root -crop %ldx%ld+%ld+%ld +repage "
                  "'%s.part.png' && /bin/mv '%s.part.png' '%s'\"",
                  rect.right - rect.left, rect.bottom - rect.top, rect.left, rect.top,
                  unix_path_.c_str(), unix_path_.c_str(), unix_path_.c_str());
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return false;
    }
    win::ScopedHandle owned_process(process.hProcess), owned_thread(process.hThread);
    return true;
}

bool Screenshot::done() const {
    return !windows_path_.empty() &&
           GetFileAttributesA(windows_path_.c_str()) != INVALID_FILE_ATTRIBUTES;
}

HDROP make_drop(const std::vector<std::string>& paths) {
    std::wstring names;
    for (const auto& p : paths) names += win::widen(p) + L'\0';
    names += L'\0';
    const std::size_t size = sizeof(DROPFILES) + names.size() * sizeof(wchar_t);
    const HGLOBAL memory = GlobalAlloc(GHND, size);
    if (!memory) return nullptr;
    auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
    header->pFiles = sizeof(DROPFILES);
    header->fWide = TRUE;
    std::memcpy(reinterpret_cast<char*>(header) + sizeof(DROPFILES), names.data(),
                names.size() * sizeof(wchar_t));
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

}  // namespace korvane::test
