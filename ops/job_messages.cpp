#include "ops/job_messages.h"

#include <shlobj.h>

#include <memory>

#include "archive/paths.h"
#include "platform/win32/scoped_win.h"
#include "platform/win32/wide.h"

namespace korvane {

namespace {

using win::ScopedPidl;

ScopedPidl parse(const std::wstring& path) {
    PIDLIST_ABSOLUTE pidl = nullptr;
    if (FAILED(SHParseDisplayName(path.c_str(), nullptr, &pidl, 0, nullptr))) return nullptr;
    return ScopedPidl(pidl);
}

std::wstring parent_of(const std::wstring& path) {
    const std::size_t at = path.find_last_of(L"\\/");
    return at == std::wstring::npos ? std::wstring() : path.substr(0, at);
}

}  // namespace

int show_message(HWND owner, const std::string& text, UINT flags) {
    return MessageBoxW(owner, win::widen(text).c_str(), win::widen(program_caption).c_str(), flags);
}

bool show_in_explorer(const std::vector<std::string>& paths) {
    if (paths.empty()) return false;
    // One window per folder: the results in it selected together.
    const std::wstring folder_path = parent_of(win::widen(paths.front()));
    const ScopedPidl folder = parse(folder_path);
    if (!folder) return false;
    std::vector<ScopedPidl> items;
    std::vector<PCUITEMID_CHILD> children;
    for (const std::string& path : paths) {
        const std::wstring wide = win::widen(path);
        if (parent_of(wide) != folder_path) continue;
        ScopedPidl item = parse(wide);
        if (!item) continue;
        children.push_back(ILFindLastID(item.get()));
        items.push_back(std::move(item));
    }
    return SUCCEEDED(SHOpenFolderAndSelectItems(folder.get(), static_cast<UINT>(children.size()),
                                                children.data(), 0));
}

namespace {

// Appends a line; piece by piece, where GCC 12's Release optimiser warns
// falsely of an overlap in "literal" + std::string.
void add_line(std::string& text, const std::string& line) {
    text += '\n';
    text += line;
}

}  // namespace

std::string success_text(const char* direction, const std::vector<std::string>& written) {
    std::string text = direction;
    text += " has completed successfully.";
    for (const std::string& path : written) add_line(text, path);
    text += written.size() > 1 ? "\n\nShow them in Explorer?" : "\n\nShow it in Explorer?";
    return text;
}

std::string failure_text(const char* direction, ResultCode result, const FailureDetail& detail) {
    const char* message = result_message(result);
    std::string text = direction;
    text += " has failed.\n";
    text += message ? message : "";
    const std::string fault = describe(detail.fault);
    if (!fault.empty()) add_line(text, fault);
    if (!detail.refused_path.empty()) {
        add_line(text, detail.refused_path);
        const std::string reason =
            result == result_read_failed ? system_reason(detail.refused_path) : std::string();
        if (!reason.empty()) add_line(text, reason);
    }
    if (!detail.destination.empty() && result != result_cancelled) {
        std::string restored;
        if (detail.restored < 0)
            restored = "Files restored before the failure are in ";
        else if (detail.restored == 0)
            restored = "No file was restored before the failure, in ";
        else if (detail.restored == 1)
            restored = "1 file was restored before the failure, in ";
        else
            restored =
                std::to_string(detail.restored) + " files were restored before the failure, in ";
        restored += detail.destination;
        add_line(text, restored);
    }
    if (!detail.done.empty()) {
        add_line(text, "Restored in full before it:");
        for (const std::string& path : detail.done) add_line(text, path);
    }
    return text;
}

std::string system_reason(const std::string& path) {
    const std::wstring wide = win::system_path(path);
    DWORD error = 0;
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        error = GetLastError();
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        WIN32_FIND_DATAW data;
        const win::ScopedFindHandle find(FindFirstFileW((wide + L"\\*").c_str(), &data));
        if (!find) error = GetLastError();
    } else {
        // Opened as the worker opens it: sharing reading and writing.
        const win::ScopedHandle file(CreateFileW(wide.c_str(), GENERIC_READ,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) error = GetLastError();
    }
    if (error == 0) return std::string();
    const std::wstring words = win::system_message(error);
    if (words.empty()) return "System error " + std::to_string(error) + ".";
    return win::narrow(words);
}

long long count_files(const std::string& folder) {
    long long files = 0;
    FolderWalker walker(folder);
    while (const FolderWalker::Record* entry = walker.next())
        if (!entry->data.is_folder) ++files;
    return walker.unlisted().empty() ? files : -1;
}

}  // namespace korvane
