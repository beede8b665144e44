#include "cli_runner.h"

#include <cstdlib>
#include <stdexcept>

#include "platform/platform.h"
#include "unit/temp_folder.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/wide.h"
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace korvane::test {

namespace {

// Captured output lives apart from the folders the tests inspect.
const TempFolder& capture_folder() {
    static TempFolder folder;
    return folder;
}

std::string without_carriage_returns(const std::string& text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) plain += text[i];
    return plain;
}

#ifdef _WIN32

struct Handle {
    HANDLE h = INVALID_HANDLE_VALUE;
    ~Handle() {
        if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};

Handle inheritable(const std::string& path, bool write) {
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    Handle handle;
    handle.h = CreateFileW(win::widen(path).c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                           write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle.h == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open " + path);
    return handle;
}

// Quotes one argument so that the C runtime's parser gives it back unchanged.
std::string quoted(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
    std::string q = "\"";
    std::size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        q.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        q += c;
    }
    q.append(2 * backslashes, '\\');
    return q + "\"";
}

int start_and_wait(const std::vector<std::string>& args, const std::string& cwd,
                   const std::string& out, const std::string& err) {
    std::string command = quoted(cli_path());
    for (const std::string& a : args) command += " " + quoted(a);
    Handle in = inheritable("NUL", false), o = inheritable(out, true), e = inheritable(err, true);
    // Arguments and folder are UTF-8, as the program's own paths.
    std::wstring wide_command = win::widen(command);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in.h;
    si.hStdOutput = o.h;
    si.hStdError = e.h;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, wide_command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                        nullptr, win::widen(cwd).c_str(), &si, &pi))
        throw std::runtime_error("cannot start " + command);
    Handle process{pi.hProcess}, thread{pi.hThread};
    if (WaitForSingleObject(pi.hProcess, 90000) != WAIT_OBJECT_0) {
        TerminateProcess(pi.hProcess, 255);
        WaitForSingleObject(pi.hProcess, INFINITE);
        return -1;
    }
    DWORD status = 0;
    if (!GetExitCodeProcess(pi.hProcess, &status)) return -1;
    return static_cast<int>(status);
}

#else

int start_and_wait(const std::vector<std::string>& args, const std::string& cwd,
                   const std::string& out, const std::string& err) {
    const std::string program = cli_path();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        const int in = open("/dev/null", O_RDONLY);
        const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || o < 0 || e < 0 || chdir(cwd.c_str()) != 0 || dup2(in, 0) < 0 ||
            dup2(o, 1) < 0 || dup2(e, 2) < 0)
            _exit(127);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

#endif

}  // namespace

std::string cli_path() {
    std::string self = platform::executable_path();
    const std::size_t slash = self.find_last_of(platform::separator);
    std::string relative = KORVANE_CLI_RELATIVE;
    for (char& c : relative)
        if (c == '/') c = platform::separator;
    return self.substr(0, slash + 1) + relative;
}

CliResult run_cli(const std::vector<std::string>& args, const std::string& cwd) {
    const std::string out = capture_folder() / "stdout", err = capture_folder() / "stderr";
    CliResult result;
    result.status = start_and_wait(args, cwd, out, err);
    result.out = without_carriage_returns(read_file(out));
    result.err = without_carriage_returns(read_file(err));
    return result;
}

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
#ifdef _WIN32
    // The C runtime's getenv keeps its own copy; children get this block.
    // Values are UTF-8, set as UTF-16 so that any character arrives.
    wchar_t old[1024];
    const std::wstring wide_name = win::widen(name_);
    const DWORD n = GetEnvironmentVariableW(wide_name.c_str(), old, 1024);
    if (n > 0 && n < 1024) saved_ = win::narrow(std::wstring_view(old, n));
    SetEnvironmentVariableW(wide_name.c_str(), value ? win::widen(*value).c_str() : nullptr);
#else
    if (const char* old = std::getenv(name_.c_str())) saved_ = old;
    if (value)
        setenv(name_.c_str(), value->c_str(), 1);
    else
        unsetenv(name_.c_str());
#endif
}

ScopedEnv::~ScopedEnv() {
#ifdef _WIN32
    SetEnvironmentVariableW(win::widen(name_).c_str(),
                            saved_ ? win::widen(*saved_).c_str() : nullptr);
#else
    if (saved_)
        setenv(name_.c_str(), saved_->c_str(), 1);
    else
        unsetenv(name_.c_str());
#endif
}

}  // namespace korvane::test
