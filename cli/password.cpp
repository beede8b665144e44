#include "cli/password.h"

#include <cstdio>

#include "archive/password_rule.h"
#include "archive/result_code.h"
#include "archive/stdio_file.h"
#include "cli/console.h"
#include "platform/platform.h"

namespace korvane::cli {

namespace {

int refuse(const char* reason) {
    std::fprintf(stderr, "korvane-cli: %s\n", reason);
    return exit_data;
}

// The first line of the file: every byte before its first LF, but a CR just
// before that LF. A CR without an LF after it is part of the password. No
// more is read than the longest password and its line end, so a file without
// one (a device, a pipe) ends there, too long; Ctrl-C ends a read that waits.
int read_first_line(const std::string& path, const std::atomic<bool>& interrupted,
                    std::string& line) {
    line.clear();
    FilePtr file(platform::open_file(path.c_str(), "rb"));
    if (!file && interrupted.load()) return result_cancelled;
    if (!file) {
        std::fprintf(stderr, "korvane-cli: cannot open the password file '%s'\n", path.c_str());
        return exit_no_input;
    }
    constexpr std::size_t longest_read = max_password_length + 2;  // a CR, then too long
    int c = EOF;
    while (line.size() < longest_read && !interrupted.load() &&
           (c = std::fgetc(file.get())) != EOF && c != '\n')
        line += static_cast<char>(c);
    if (interrupted.load()) return result_cancelled;
    if (std::ferror(file.get())) {
        std::fprintf(stderr, "korvane-cli: cannot read the password file '%s'\n", path.c_str());
        return exit_no_input;
    }
    if (c == '\n' && !line.empty() && line.back() == '\r') line.pop_back();
    return 0;
}

int check_rules(const std::string& password, PasswordUse use) {
    if (!password_length_ok(password.size())) return refuse(password_length_message);
    // The workers take the password as a C string.
    if (password.find('\0') != std::string::npos)
        return refuse("The password must not contain a NUL byte.");
    if (use == PasswordUse::lock) {
        for (unsigned char c : password) {
            if (c >= 0x80)
                return refuse(
                    "The password may hold ASCII characters only: other characters are "
                    "different bytes under another code page, so the archive could not be "
                    "opened there.");
        }
    }
    return 0;
}

int ask(const char* prompt, const std::atomic<bool>& interrupted, std::string& answer) {
    switch (read_secret(prompt, interrupted, answer)) {
        case SecretRead::ok:
            return 0;
        case SecretRead::interrupted:
            return result_cancelled;
        case SecretRead::no_terminal:
            return refuse(
                "no password: give --password-file FILE or KORVANE_PASSWORD, or run on a terminal");
        case SecretRead::not_in_code_page:
            return refuse(password_code_page_message);
        case SecretRead::failed:
            break;
    }
    return refuse("the password could not be read from the terminal");
}

}  // namespace

int obtain_password(const Options& options, PasswordUse use, const std::atomic<bool>& interrupted,
                    std::string& password) {
    if (options.has_password_file) {
        if (int r = read_first_line(options.password_file, interrupted, password)) return r;
        return check_rules(password, use);
    }
    switch (read_password_variable(password)) {
        case SecretRead::ok:
            return check_rules(password, use);
        case SecretRead::not_in_code_page:
            return refuse(password_code_page_message);
        default:
            break;
    }
    if (int r = ask("Password: ", interrupted, password)) return r;
    if (int r = check_rules(password, use)) return r;
    if (use == PasswordUse::open) return 0;
    std::string again;
    if (int r = ask("Confirm password: ", interrupted, again)) return r;
    if (again != password) return refuse("The passwords do not match.");
    return 0;
}

}  // namespace korvane::cli
