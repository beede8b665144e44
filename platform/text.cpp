#include "platform/utf8.h"

#include "platform/path_key.h"
#include "platform/platform.h"

namespace korvane::platform {

namespace detail {

bool is_valid_utf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t n = utf8_sequence_length(c);
        if (n == 1) {
            if (c >= 0x80) return false;
            ++i;
            continue;
        }
        if (s.size() - i < n) return false;
        const auto second = static_cast<unsigned char>(s[i + 1]);
        // The second byte's range rules out overlong forms, surrogates and
        // code points past U+10FFFF.
        unsigned char low = 0x80, high = 0xBF;
        if (c == 0xE0) low = 0xA0;
        if (c == 0xED) high = 0x9F;
        if (c == 0xF0) low = 0x90;
        if (c == 0xF4) high = 0x8F;
        if (second < low || second > high) return false;
        for (std::size_t k = 2; k < n; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        }
        i += n;
    }
    return true;
}

bool is_ascii(std::string_view s) {
    for (char c : s) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

std::string path_key_form(std::string_view path, bool windows_rules) {
    // Byte by byte: in UTF-8 no byte of a multi-byte character is a separator.
    const auto separates = [&](char c) { return c == '/' || (windows_rules && c == '\\'); };
    std::string key;
    key.reserve(path.size());
    std::size_t i = 0;
    while (i < path.size() && separates(path[i])) ++i;
    if (i > 0) key.append(windows_rules && i >= 2 ? 2 : 1, '/');
    const std::size_t root = key.size();
    bool trailing = false;
    while (i < path.size()) {
        std::size_t end = i;
        while (end < path.size() && !separates(path[end])) ++end;
        std::string_view component = path.substr(i, end - i);
        if (windows_rules && component != "." && component != "..") {
            // The path layer drops one trailing dot from a folder's name,
            // every trailing dot and space from the last name only.
            if (end < path.size()) {
                if (component.back() == '.') component.remove_suffix(1);
            } else {
                while (!component.empty() && (component.back() == '.' || component.back() == ' '))
                    component.remove_suffix(1);
            }
        }
        if (!component.empty()) {
            if (key.size() > root) key += '/';
            key += component;
        }
        i = end;
        trailing = i < path.size();
        while (i < path.size() && separates(path[i])) ++i;
    }
    // "X:\" is the drive's root, "X:" the drive's current folder.
    if (windows_rules && trailing && root == 0 && key.size() == 2 && key[1] == ':') key += '/';
    // A path of components that all trim away names the folder it is read in.
    if (key.empty() && !path.empty()) key.push_back('.');
    return key;
}

}  // namespace detail

bool may_be_short_name(std::string_view utf8_path) {
    for (std::size_t i = 0; i + 1 < utf8_path.size(); ++i) {
        if (utf8_path[i] == '~' && utf8_path[i + 1] >= '0' && utf8_path[i + 1] <= '9') return true;
    }
    return false;
}

ArchiveName archive_name_from_path(std::string_view name) {
    ArchiveName stored;
    if (!to_ansi_name(name, stored.bytes)) {
        stored.bytes.assign(name);
        // A POSIX name in some other encoding is stored as its bytes,
        // unflagged, which is how every reader here takes it back.
        stored.utf8 = detail::is_valid_utf8(name);
    }
    return stored;
}

bool path_from_archive_name(std::string_view bytes, bool utf8, std::string& out,
                            unsigned code_page) {
    if (utf8) {
        if (!detail::is_valid_utf8(bytes)) return false;
        out.assign(bytes);
        return true;
    }
    if (code_page != 0) return from_code_page(bytes, code_page, out);
    out = from_ansi_name(bytes);
    // Any bytes have a reading in the code page: only a failed conversion
    // gives nothing for something.
    return bytes.empty() || !out.empty();
}

std::size_t char_length(const char* s) {
    if (!s || !*s) return 0;
    const std::size_t expected = detail::utf8_sequence_length(static_cast<unsigned char>(s[0]));
    std::size_t length = 1;
    // Only continuation bytes are taken, so neither a terminator nor an ASCII
    // separator is ever swallowed by a broken sequence.
    while (length < expected && (static_cast<unsigned char>(s[length]) & 0xC0) == 0x80) ++length;
    return length;
}

}  // namespace korvane::platform
