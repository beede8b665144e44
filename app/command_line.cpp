#include "app/command_line.h"

#include <string>

namespace korvane {

namespace {

StartupMode switch_mode(char letter) {
    switch (letter) {
        case 'd': case 'D': return mode_decrypt;
        case 'c': case 'C': return mode_encrypt;
        case 's': case 'S': return mode_settings;
        case 'i': case 'I': return mode_install;
        case 'u': case 'U': return mode_uninstall;
        case 't': case 'T': return mode_settings_elevated;
        case 'j': case 'J': return mode_install_elevated;
        case 'v': case 'V': return mode_uninstall_elevated;
        case 'm': case 'M': return mode_register_menu_elevated;
        case 'n': case 'N': return mode_unregister_menu_elevated;
        default: return mode_unrecognised;
    }
}

// Index of the first c at or after from, or of the terminator.
std::size_t find_or_end(const std::string& s, std::size_t from, char c) {
    std::size_t at = s.find(c, from);
    return at == std::string::npos ? s.size() : at;
}

}  // namespace

StartupMode parse_command_line(const char* args, InputList& inputs) {
    if (!args || !*args) return mode_none;
    const std::string s(args);
    StartupMode mode = mode_paths_only;
    std::size_t pos = 0;
    while (true) {
        const char c = s[pos];
        if (c == '"') {
            const std::size_t close = find_or_end(s, pos + 1, '"');
            inputs.add(s.substr(pos + 1, close - pos - 1).c_str());
            pos = close;
        } else if (c == '-') {
            // Only the first letter counts: "-install" acts as "-i".
            mode = switch_mode(pos + 1 < s.size() ? s[pos + 1] : '\0');
            pos = find_or_end(s, pos + 1, ' ');
        } else if (c != ' ') {
            const std::size_t end = find_or_end(s, pos, ' ');
            inputs.add(s.substr(pos, end - pos).c_str());
            pos = end;
        }
        // Step over the space or closing quote that ended this argument.
        if (pos >= s.size()) break;
        ++pos;
        if (pos >= s.size()) break;
    }
    return mode;
}

const char* skip_program_name(const char* line) {
    if (!line) return nullptr;
    // Unsigned: the bytes of a UTF-8 character are above the blank, never below.
    const auto at = [&line] { return static_cast<unsigned char>(*line); };
    bool quoted = false;
    for (; at() > ' ' || (at() && quoted); ++line)
        if (at() == '"') quoted = !quoted;
    while (at() && at() <= ' ') ++line;
    return line;
}

const char* relaunch_switch_for(StartupMode mode, bool elevation_required) {
    if (!elevation_required) return nullptr;
    switch (mode) {
        case mode_install: return "-J";
        case mode_uninstall: return "-V";
        default: return nullptr;
    }
}

}  // namespace korvane
