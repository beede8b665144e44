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
