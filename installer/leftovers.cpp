// The MSI packages' one custom action, ScheduleLeftovers: at the end of a
// removal, each of the package's files that is still in its folder is in use
// (the right-click library that Explorer holds, a running program); it is
// deleted at the next restart, and so is the folder when nothing else is left
// in it, and the installer is told that a restart is needed (exit 3010).
// Windows Installer does this itself; Wine's leaves such a file for good.
//
// CustomActionData, "|" between fields: the product code of the newer
// package that removes this one, if one does (it installs into the folder
// again, so the folder stays); the folder, ending in a backslash; the file
// names.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include <memory>
#include <string>
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
    const std::wstring line = L"ScheduleLeftovers: " + text;
    MsiRecordSetStringW(record, 0, line.c_str());
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
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

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall ScheduleLeftovers(MSIHANDLE install) {
    const std::vector<std::wstring> fields = split(action_data(install));
    if (fields.size() < 3 || fields[1].empty() || fields[1].back() != L'\\') {
        log(install, L"no folder and files given");
        return ERROR_SUCCESS;
    }
    const bool upgrade = !fields[0].empty();
    const std::wstring& folder = fields[1];
    std::vector<std::wstring> scheduled;
    for (std::size_t i = 2; i < fields.size(); ++i) {
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
    if (scheduled.empty()) return ERROR_SUCCESS;
    // After the files: the restart deletes entries in the order they came.
    if (!upgrade && holds_only(folder, scheduled)) {
        const std::wstring bare = folder.substr(0, folder.size() - 1);
        if (MoveFileExW(bare.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
            log(install, L"removed at the next restart: " + bare);
        } else {
            log(install, L"cannot be removed at the next restart (error " +
                             std::to_wstring(GetLastError()) + L"): " + bare);
        }
    }
    MsiSetMode(install, MSIRUNMODE_REBOOTATEND, TRUE);
    return ERROR_SUCCESS;
}
