#include "e2e_support.h"

#include <vector>

#include "platform/win32/wide.h"
#include "resources/resource_ids.h"

namespace korvane::test {

std::string beside_tests(const std::string& relative) {
    char self[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
    std::string path(self, n);
    path.erase(path.find_last_of('\\') + 1);
    for (char c : relative) path += c == '/' ? '\\' : c;
    return path;
}

std::string product_path() {
    return beside_tests(KORVANE_PRODUCT_RELATIVE);
}

ProductProcess::ProductProcess(const std::string& exe, const std::string& arguments) {
    const std::wstring program = win::widen(exe);
    std::wstring command = L"\"" + program + L"\" " + win::widen(arguments);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &si, &pi))
        return;
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    id_ = pi.dwProcessId;
    WaitForInputIdle(process_, 10000);
}

ProductProcess::~ProductProcess() {
    if (!process_) return;
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_, 255);
        WaitForSingleObject(process_, 10000);
    }
    CloseHandle(process_);
}

namespace {

struct Search {
    DWORD process;
    const char* caption;
    HWND found;
    int control_id;  // 0: any window
};

BOOL CALLBACK match(HWND window, LPARAM context) {
    auto* s = reinterpret_cast<Search*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char caption[256] = {};
    GetWindowTextA(window, caption, sizeof caption);
    if (owner == s->process && IsWindowVisible(window) && lstrcmpA(caption, s->caption) == 0 &&
        (s->control_id == 0 || GetDlgItem(window, s->control_id))) {
        s->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND ProductProcess::wait_for_window(const char* caption, DWORD timeout_ms) const {
    return wait_for_window(caption, 0, timeout_ms);
}

HWND ProductProcess::wait_for_message(DWORD timeout_ms) const {
    return wait_for_window("Korvane File", 0xFFFF, timeout_ms);
}

HWND ProductProcess::wait_for_main_window(DWORD timeout_ms) const {
    return wait_for_window("Korvane File", IDC_HEADING, timeout_ms);
}

HWND ProductProcess::wait_for_window(const char* caption, int control_id, DWORD timeout_ms) const {
    if (!process_) return nullptr;
    const DWORD start = GetTickCount();
    do {
        Search s{id_, caption, nullptr, control_id};
        EnumWindows(match, reinterpret_cast<LPARAM>(&s));
        if (s.found) return s.found;
        if (WaitForSingleObject(process_, 50) == WAIT_OBJECT_0) return nullptr;
    } while (GetTickCount() - start < timeout_ms);
    return nullptr;
}

int ProductProcess::wait_for_exit(DWORD timeout_ms) {
    if (!process_ || WaitForSingleObject(process_, timeout_ms) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    return GetExitCodeProcess(process_, &code) ? static_cast<int>(code) : -1;
}

std::string control_text(HWND dialog, int id) {
    const HWND control = GetDlgItem(dialog, id);
    if (!control) return {};
    std::vector<char> text(1024, '\0');
    SendMessageTimeoutA(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_ABORTIFHUNG, 5000, nullptr);
    return text.data();
}

void set_control_text(HWND dialog, int id, const std::string& text) {
    SendMessageTimeoutA(GetDlgItem(dialog, id), WM_SETTEXT, 0,
                        reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG, 5000, nullptr);
}

void press_button(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void type_keys(HWND dialog, int id, const std::wstring& text) {
    const HWND control = GetDlgItem(dialog, id);
    for (const wchar_t unit : text) PostMessageW(control, WM_CHAR, unit, 1);
}

std::string message_box_text(HWND box) {
    // UTF-16, for paths in any script.
    const HWND text = GetDlgItem(box, 0xFFFF);
    if (!text) return {};
    std::vector<wchar_t> units(4096, L'\0');
    SendMessageTimeoutW(text, WM_GETTEXT, units.size(), reinterpret_cast<LPARAM>(units.data()),
                        SMTO_ABORTIFHUNG, 5000, nullptr);
    return win::narrow(units.data());
}

bool wait_until_gone(HWND window, DWORD timeout_ms) {
    const DWORD start = GetTickCount();
    while (IsWindow(window) && IsWindowVisible(window)) {
        if (GetTickCount() - start >= timeout_ms) return false;
        Sleep(50);
    }
    return true;
}

}  // namespace korvane::test
