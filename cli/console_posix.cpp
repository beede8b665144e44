// The console seam on POSIX: termios for the password, sigaction for Ctrl-C,
// realpath for canonical folders.
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "cli/console.h"

namespace korvane::cli {

namespace {

static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler stores to it");

std::atomic<std::atomic<bool>*> interrupt_flag{nullptr};

void on_interrupt(int) {
    if (std::atomic<bool>* flag = interrupt_flag.load()) flag->store(true);
}

struct FreeDeleter {
    void operator()(char* p) const { std::free(p); }
};

bool real_path(const std::string& path, std::string& out) {
    std::unique_ptr<char, FreeDeleter> real(realpath(path.c_str(), nullptr));
    if (!real) return false;
    out = real.get();
    return true;
}

// Puts the terminal back as it was, on every way out of the prompt.
class EchoOff {
  public:
    EchoOff() {
        if (tcgetattr(STDIN_FILENO, &saved_) != 0) return;
        termios quiet = saved_;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        quiet.c_lflag |= ECHONL;  // the Enter still moves to the next line
        active_ = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff() {
        if (active_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;
    bool active() const { return active_; }

  private:
    termios saved_{};
    bool active_ = false;
};

}  // namespace

bool stderr_is_terminal() {
    return isatty(STDERR_FILENO) == 1;
}

SecretRead read_secret(const char* prompt, const std::atomic<bool>& interrupted,
                       std::string& secret) {
    secret.clear();
    if (isatty(STDIN_FILENO) != 1) return SecretRead::no_terminal;
    EchoOff echo_off;
    if (!echo_off.active()) return SecretRead::failed;
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    // A line longer than any valid password only needs to be known as too long.
    constexpr std::size_t keep_at_most = 1024;
    for (;;) {
        char c = 0;
        const ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) {
            if (interrupted.load()) {
                std::fputc('\n', stderr);
                return SecretRead::interrupted;
            }
            continue;
        }
        if (n < 0) return SecretRead::failed;
        if (n == 0) return secret.empty() ? SecretRead::failed : SecretRead::ok;
        if (c == '\n') return SecretRead::ok;
        if (secret.size() < keep_at_most) secret += c;
    }
}

SecretRead read_password_variable(std::string& value) {
    const char* variable = std::getenv("KORVANE_PASSWORD");
    if (!variable) return SecretRead::no_terminal;
    value = variable;
    return SecretRead::ok;
}

bool catch_interrupts(std::atomic<bool>& flag) {
    interrupt_flag.store(&flag);
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a password prompt must return at once
    // A closed terminal (SIGHUP) or the quit key (SIGQUIT) must not leave a partial archive.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        if (sigaction(signal, &action, nullptr) != 0) return false;
    return true;
}

void job_finished() {}

void write_text(std::FILE* stream, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stream);
}

std::string full_path(const std::string& path) {
    if (path.empty()) return path;
    const std::size_t slash = path.rfind('/');
    const std::string last = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string resolved;
    if (last.empty() || last == "." || last == "..") {
        if (real_path(path, resolved)) return resolved;
    } else {
        const std::string parent = slash == std::string::npos ? "."
                                   : slash == 0               ? "/"
                                                              : path.substr(0, slash);
        if (real_path(parent, resolved))
            return resolved == "/" ? "/" + last : resolved + "/" + last;
    }
    // A parent that does not exist yet: at least make it absolute, so that
    // folder chains below it can be created.
    if (path[0] == '/') return path;
    std::string cwd(PATH_MAX, '\0');
    if (!getcwd(cwd.data(), cwd.size())) return path;
    cwd.resize(std::char_traits<char>::length(cwd.c_str()));
    return cwd == "/" ? "/" + path : cwd + "/" + path;
}

}  // namespace korvane::cli
