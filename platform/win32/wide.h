// Text at the Windows boundary. Inside, the program keeps every path as UTF-8;
// the wide API takes UTF-16. ANSI code-page bytes remain only where stored
// files or older readers need them (archive names the code page holds,
// passwords).
#pragma once

#include <windows.h>

#include <climits>
#include <string>
#include <string_view>

namespace korvane::win {

// UTF-8 to UTF-16. Invalid sequences become U+FFFD, so a name never turns
// into a different valid one.
inline std::wstring widen(std::string_view utf8) {
    if (utf8.empty() || utf8.size() > INT_MAX) return std::wstring();
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

// The full form of a path as the system's path layer makes it: relative and
// drive-relative paths made absolute, '/' turned into '\\', "." and ".."
// resolved, trailing dots and spaces dropped where the layer drops them, and
// a device name ("nul") turned into its device path. Empty when that fails.
inline std::wstring full_path(const std::wstring& path) {
    std::wstring full(MAX_PATH, L'\0');
    // The current folder may change between the calls, and the size with it.
    for (int attempt = 0; attempt < 4 && !path.empty(); ++attempt) {
        const DWORD n =
            GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n == 0) break;
        if (n < full.size()) {
            full.resize(n);
            return full;
        }
        full.resize(n);  // n is the size needed, terminator included
    }
    return std::wstring();
}

// "\\?\" (verbatim) and "\\.\" (device) paths: the path layer leaves them
// as they are.
inline bool is_device_form(std::wstring_view path) {
    return path.size() >= 4 && path[0] == L'\\' && path[1] == L'\\' &&
           (path[2] == L'?' || path[2] == L'.') && path[3] == L'\\';
}

// A path as the file functions receive it: its full form with the "\\?\"
// prefix ("\\?\UNC\" for a share), so a path of any length works whether or
// not long paths are enabled. The prefix turns the path layer off, so it is
// put only on what that layer has already made of the path: the file meant
// is the one the plain spelling names, and a name the layer changes (a
// trailing dot, "nul") is never created as it is written. Every path gets
// the prefix, not only the long ones, so the one form is the form every
// caller exercises. Device and verbatim paths are left alone; empty when the
// path is empty or has no full form, so that the call fails.
inline std::wstring system_path(std::wstring_view path) {
    if (path.empty() || path.find(L'\0') != std::wstring_view::npos) return std::wstring();
    if (is_device_form(path)) return std::wstring(path);
    const std::wstring full = full_path(std::wstring(path));
    if (full.empty() || is_device_form(full)) return full;
    if (full.size() > 2 && full[0] == L'\\' && full[1] == L'\\')
        return L"\\\\?\\UNC" + full.substr(1);
    return L"\\\\?\\" + full;
}

inline std::wstring system_path(std::string_view utf8) {
    return system_path(widen(utf8));
}

// True when a high surrogate lacks its low one or a low one its high one:
// NTFS takes such names, UTF-8 has no form for them.
inline bool has_unpaired_surrogate(std::wstring_view utf16) {
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        const wchar_t c = utf16[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            return true;
        }
    }
    return false;
}

// UTF-16 to UTF-8; lone surrogates become U+FFFD.
inline std::string narrow(std::wstring_view utf16) {
    if (utf16.empty() || utf16.size() > INT_MAX) return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()),
                                      nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

// UTF-16 to bytes of the ANSI code page, only when every character has an
// exact form there: no best-fit substitutes (ü for u, ? for 日). False, with
// out unchanged, otherwise.
inline bool to_ansi(std::wstring_view utf16, std::string& out) {
    if (utf16.empty()) {
        out.clear();
        return true;
    }
    if (utf16.size() > INT_MAX) return false;
    const int length = static_cast<int>(utf16.size());
    BOOL defaulted = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, utf16.data(), length, nullptr,
                                      0, nullptr, &defaulted);
    if (n <= 0 || defaulted) return false;
    std::string bytes(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, utf16.data(), length, bytes.data(), n,
                        nullptr, &defaulted);
    // Some code pages map two characters to one byte sequence; only a true
    // round trip counts.
    const int back = MultiByteToWideChar(CP_ACP, 0, bytes.data(), n, nullptr, 0);
    if (back != length) return false;
    std::wstring check(static_cast<std::size_t>(back), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), n, check.data(), back);
    if (check != utf16) return false;
    out = std::move(bytes);
    return true;
}

// Bytes of the ANSI code page to UTF-16; empty when they are not text of
// that code page (a lead byte without its trail byte, a byte it leaves
// undefined), rather than one with a character replaced.
inline std::wstring from_ansi(std::string_view ansi) {
    if (ansi.empty() || ansi.size() > INT_MAX) return std::wstring();
    const int length = static_cast<int>(ansi.size());
    const int n =
        MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(), length, nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, ansi.data(), length, out.data(), n) != n)
        return std::wstring();
    return out;
}

}  // namespace korvane::win
