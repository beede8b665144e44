// The MSI packages' custom actions, for files in use at a removal (the
// right-click library that Explorer holds, a running program), which Windows
// Installer deletes at the next restart and Wine's leaves for good.
//
// ScheduleLeftovers, at the end of a removal: each of the package's files
// still in its folder is deleted at the next restart, and so is the folder
// when nothing else is left in it; the installer is told that a restart is
// needed (exit 3010).
//
// KeepInstalled, at the end of an install: a removal that came before (the
// older version's, which Wine's installer runs as a plain uninstall, so it
// cannot tell an upgrade) may have scheduled these very files and the folder
// for deletion; such a deletion is taken back unless a rename that puts a new
// file there follows it (the installer's own replacement of a file in use).
//
// CustomActionData of both, "|" between fields: the folder, ending in a
// backslash; the file names.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <exception>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace {

struct FindCloser {
    void operator()(HANDLE handle) const { FindClose(handle); }
};

std::wstring action_data(MSIHANDLE install) {
    DWORD size = 0;
    wchar_t none[1] = L"";
    if (MsiGetPropertyW(install, L"CustomActionData", none, &size) != ERROR_MORE_DATA) return {};
    std::wstring data(size + 1, L'\0');
    ++size;
    if (MsiGetPropertyW(install, L"CustomActionData", data.data(), &size) != ERROR_SUCCESS) {
        return {};
    }
    data.resize(size);
    return data;
}

std::vector<std::wstring> split(const std::wstring& text) {
    std::vector<std::wstring> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t bar = text.find(L'|', start);
        fields.push_back(text.substr(start, bar - start));
        if (bar == std::wstring::npos) return fields;
        start = bar + 1;
    }
}

void log(MSIHANDLE install, const std::wstring& text) {
    PMSIHANDLE record = MsiCreateRecord(0);
    if (record == 0) return;
    const std::wstring line = L"Korvane File: " + text;
    MsiRecordSetStringW(record, 0, line.c_str());
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
}

// The folder (ending in a backslash) and the file names, or nothing.
std::vector<std::wstring> folder_and_files(MSIHANDLE install) {
    std::vector<std::wstring> fields = split(action_data(install));
    if (fields.size() < 2 || fields[0].empty() || fields[0].back() != L'\\') {
        log(install, L"no folder and files given");
        return {};
    }
    return fields;
}

bool equal_names(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// Whether the folder holds nothing but the given names (a user's own file
// keeps it, as the installer keeps a folder it did not empty).
bool holds_only(const std::wstring& folder, const std::vector<std::wstring>& names) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    const std::unique_ptr<void, FindCloser> closer(search);
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        bool known = false;
        for (const auto& own : names) known = known || equal_names(name, own);
        if (!known) return false;
    } while (FindNextFileW(search, &found));
    return GetLastError() == ERROR_NO_MORE_FILES;
}

constexpr const wchar_t* session_manager = L"System\\CurrentControlSet\\Control\\Session Manager";
constexpr const wchar_t* pending_value = L"PendingFileRenameOperations";

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using ScopedKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

// The strings of a REG_MULTI_SZ value, empty ones included (a deletion's
// target is one), without the final empty string that ends the list.
std::vector<std::wstring> multi_strings(const std::vector<wchar_t>& data) {
    std::vector<std::wstring> strings;
    std::size_t start = 0;
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (data[i] != L'\0') continue;
        strings.emplace_back(data.begin() + static_cast<std::ptrdiff_t>(start),
                             data.begin() + static_cast<std::ptrdiff_t>(i));
        start = i + 1;
    }
    // The pairs end at an empty source: the terminator of the list.
    std::size_t pairs = 0;
    while (pairs * 2 + 1 < strings.size() && !strings[pairs * 2].empty()) ++pairs;
    strings.resize(pairs * 2);
    return strings;
}

void schedule_leftovers(MSIHANDLE install) {
    const std::vector<std::wstring> fields = folder_and_files(install);
    if (fields.empty()) return;
    const std::wstring& folder = fields[0];
    std::vector<std::wstring> scheduled;
    for (std::size_t i = 1; i < fields.size(); ++i) {
        const std::wstring path = folder + fields[i];
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) continue;
        // Whatever held it may have let go since the installer tried.
        if (DeleteFileW(path.c_str())) continue;
        if (MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            log(install, L"in use, deleted at the next restart: " + path);
            scheduled.push_back(fields[i]);
        } else {
            log(install, L"in use, and cannot be deleted at the next restart (error " +
                             std::to_wstring(GetLastError()) + L"): " + path);
        }
    }
    if (scheduled.empty()) return;
    // After the files: the restart deletes entries in the order they came.
    if (holds_only(folder, scheduled)) {
        const std::wstring bare = folder.substr(0, folder.size() - 1);
        if (MoveFileExW(bare.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            log(install, L"removed at the next restart: " + bare);
        } else {
            log(install, L"cannot be removed at the next restart (error " +
                             std::to_wstring(GetLastError()) + L"): " + bare);
        }
    }
    MsiSetMode(install, MSIRUNMODE_REBOOTATEND, TRUE);
}

void keep_installed(MSIHANDLE install) {
    const std::vector<std::wstring> fields = folder_and_files(install);
    if (fields.empty()) return;
    const std::wstring& folder = fields[0];
    std::vector<std::wstring> ours{L"\\??\\" + folder.substr(0, folder.size() - 1)};
    for (std::size_t i = 1; i < fields.size(); ++i) ours.push_back(L"\\??\\" + folder + fields[i]);

    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, session_manager, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                      &opened) != ERROR_SUCCESS) {
        return;
    }
    const ScopedKey key(opened);
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), pending_value, nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS ||
        type != REG_MULTI_SZ) {
        return;
    }
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key.get(), pending_value, nullptr, &type,
                         reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS) {
        return;
    }
    data.resize(size / sizeof(wchar_t));
    const std::vector<std::wstring> strings = multi_strings(data);

    const auto is_ours = [&](const std::wstring& path) {
        for (const auto& own : ours) {
            if (equal_names(path, own)) return true;
        }
        return false;
    };
    // A rename's target may start with "!": replace what is there.
    const auto renamed_to = [&](std::size_t after, const std::wstring& path) {
        for (std::size_t i = after + 2; i + 1 < strings.size(); i += 2) {
            std::wstring target = strings[i + 1];
            if (!target.empty() && target[0] == L'!') target.erase(0, 1);
            if (equal_names(target, path)) return true;
        }
        return false;
    };
    std::vector<wchar_t> kept;
    bool dropped = false;
    for (std::size_t i = 0; i + 1 < strings.size(); i += 2) {
        if (strings[i + 1].empty() && is_ours(strings[i]) && !renamed_to(i, strings[i])) {
            log(install, L"installed again, no longer deleted at the next restart: " + strings[i]);
            dropped = true;
            continue;
        }
        for (std::size_t j = i; j < i + 2; ++j) {
            kept.insert(kept.end(), strings[j].begin(), strings[j].end());
            kept.push_back(L'\0');
        }
    }
    if (!dropped) return;
    LSTATUS status;
    if (kept.empty()) {
        status = RegDeleteValueW(key.get(), pending_value);
    } else {
        kept.push_back(L'\0');
        status = RegSetValueExW(key.get(), pending_value, 0, REG_MULTI_SZ,
                                reinterpret_cast<const BYTE*>(kept.data()),
                                static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
    }
    if (status != ERROR_SUCCESS) {
        log(install, L"cannot write the renames at the next restart (error " +
                         std::to_wstring(status) + L")");
    }
}

}  // namespace

// Neither fails the installation (a file left in use is not worth undoing
// an uninstall for), and no exception leaves the library.
extern "C" __declspec(dllexport) UINT __stdcall ScheduleLeftovers(MSIHANDLE install) {
    try {
        schedule_leftovers(install);
    } catch (const std::exception&) {
        // Out of memory: nothing more can be done or said.
    }
    return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall KeepInstalled(MSIHANDLE install) {
    try {
        keep_installed(install);
    } catch (const std::exception&) {
        // Out of memory: nothing more can be done or said.
    }
    return ERROR_SUCCESS;
}
