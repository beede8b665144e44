// The console seam on Windows: console modes for the password, a console
// control handler for Ctrl-C, GetFullPathNameW for absolute paths.
#include <windows.h>

#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/console.h"
#include "platform/win32/wide.h"

namespace korvane::cli {

namespace {

std::atomic<std::atomic<bool>*> interrupt_flag{nullptr};
std::atomic<bool> job_over{false};

BOOL WINAPI on_control(DWORD event) {
    if (std::atomic<bool>* flag = interrupt_flag.load()) flag->store(true);
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
    // Closing the console ends the process when this returns: give the job
    // the moment it needs to delete its temporary files (the system allows
    // about five seconds).
    for (int waited = 0; waited < 4500 && !job_over.load(); waited += 10) Sleep(10);
    return TRUE;
}

class ConsoleMode {
  public:
    ConsoleMode(HANDLE console, DWORD mode) : console_(console) {
        active_ = GetConsoleMode(console_, &saved_) && SetConsoleMode(console_, mode);
    }
    ~ConsoleMode() {
        if (active_) SetConsoleMode(console_, saved_);
    }
    ConsoleMode(const ConsoleMode&) = delete;
    ConsoleMode& operator=(const ConsoleMode&) = delete;
    bool active() const { return active_; }

  private:
    HANDLE console_;
    DWORD saved_ = 0;
    bool active_ = false;
};

}  // namespace

bool stderr_is_terminal() {
    // _isatty also says yes for NUL, which is a character device.
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

SecretRead read_secret(const char* prompt, const std::atomic<bool>& interrupted,
                       std::string& secret) {
    secret.clear();
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (input == INVALID_HANDLE_VALUE || !input || !GetConsoleMode(input, &mode))
        return SecretRead::no_terminal;
    ConsoleMode quiet(input, (mode | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) &
                                 ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    if (!quiet.active()) return SecretRead::failed;
    std::fputs(prompt, stderr);
    std::fflush(stderr);

    // Read as UTF-16 and convert to the ANSI code page: the console's own
    // code page is the OEM one, and the GUI takes passwords as ANSI bytes.
    std::wstring line;
    constexpr std::size_t keep_at_most = 1024;
    for (;;) {
        wchar_t buffer[256];
        DWORD got = 0;
        const BOOL read = ReadConsoleW(input, buffer, 256, &got, nullptr);
        // Ctrl-C ends the read with nothing in it; the handler runs on
        // another thread and may not have set the flag yet.
        if (interrupted.load() || (read && got == 0)) {
            std::fputc('\n', stderr);
            return SecretRead::interrupted;
        }
        if (!read) return SecretRead::failed;
        bool ended = false;
        for (DWORD i = 0; i < got && !ended; ++i) {
            if (buffer[i] == L'\n')
                ended = true;
            else if (buffer[i] != L'\r' && line.size() < keep_at_most)
                line += buffer[i];
        }
        if (ended) break;
    }
    std::fputc('\n', stderr);
    return win::to_ansi(line, secret) ? SecretRead::ok : SecretRead::not_in_code_page;
}

SecretRead read_password_variable(std::string& value) {
    // The wide block holds what was set; the ANSI view of it has already
    // turned characters outside the code page into others.
    const wchar_t* variable = _wgetenv(L"KORVANE_PASSWORD");
    if (!variable) return SecretRead::no_terminal;
    return win::to_ansi(variable, value) ? SecretRead::ok : SecretRead::not_in_code_page;
}

bool catch_interrupts(std::atomic<bool>& flag) {
    interrupt_flag.store(&flag);
    return SetConsoleCtrlHandler(on_control, TRUE) != 0;
}

void job_finished() {
    job_over.store(true);
}

void write_text(std::FILE* stream, std::string_view text) {
    const int fd = _fileno(stream);
    const HANDLE handle =
        fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) {
        std::fwrite(text.data(), 1, text.size(), stream);
        return;
    }
    // What the stream holds so far comes first.
    std::fflush(stream);
    const std::wstring wide = win::widen(text);
    DWORD written = 0;
    for (std::size_t at = 0; at < wide.size(); at += written) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(wide.size() - at, 16384));
        if (!WriteConsoleW(handle, wide.data() + at, chunk, &written, nullptr) || written == 0)
            return;
    }
}

std::string full_path(const std::string& path) {
    const std::wstring full = win::full_path(win::widen(path));
    return full.empty() ? path : win::narrow(full);
}

}  // namespace korvane::cli
