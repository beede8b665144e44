#include "menu/launch.h"

#include "platform/win32/scoped_win.h"
#include "platform/win32/wide.h"

#include <memory>
#include <type_traits>

namespace korvane::menu {

namespace {

using win::ScopedHandle;

constexpr const wchar_t* title = L"Korvane File";

BOOL create_process(void*, const wchar_t* application, const wchar_t* command_line) {
    // CreateProcessW may write into the command line.
    std::wstring line(command_line);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(application, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
        return FALSE;
    const ScopedHandle process(info.hProcess);
    const ScopedHandle thread(info.hThread);
    return TRUE;
}

void message_box(void*, HWND owner, const wchar_t* text) {
    MessageBoxW(owner, text, title, MB_OK | MB_ICONERROR);
}

bool is_file(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(win::system_path(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring system_message(DWORD error) {
    const std::wstring text = win::system_message(error);
    return text.empty() ? L"error " + std::to_wstring(error) : text;
}

}  // namespace

std::optional<std::wstring> encrypt_command_line(const std::wstring& executable,
                                                 const std::vector<std::wstring>& paths) {
    std::size_t length = executable.size() + 2 + 3;  // the quotes and " -c"
    for (const std::wstring& path : paths) length += path.size() + 3;
    if (length + 1 > command_line_limit) return std::nullopt;
    std::wstring line;
    line.reserve(length);
    line.append(L"\"").append(executable).append(L"\" -c");
    for (const std::wstring& path : paths) line.append(L" \"").append(path).append(L"\"");
    return line;
}

std::wstring module_folder(HMODULE module) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        // A full buffer means the name was cut.
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        if (path.size() >= command_line_limit) return {};
        path.resize(path.size() * 2);
    }
    const std::size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return {};
    path.resize(slash + 1);
    return path;
}

HRESULT encrypt_selection(HMODULE module, HWND owner, bool show_ui,
                          const std::vector<std::wstring>& paths, const KvnMenuHooks& hooks) {
    const auto tell = [&](const std::wstring& text) {
        if (show_ui) hooks.message(hooks.context, owner, text.c_str());
    };
    if (paths.empty()) return E_INVALIDARG;
    const std::wstring folder = module_folder(module);
    if (folder.empty()) return HRESULT_FROM_WIN32(GetLastError() ? GetLastError() : ERROR_BAD_PATHNAME);
    const std::wstring executable = folder + L"korvane.exe";
    if (!is_file(executable)) {
        tell(L"Korvane File cannot be started: " + executable + L" was not found.");
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    const std::optional<std::wstring> line = encrypt_command_line(executable, paths);
    if (!line) {
        tell(L"Too many files are selected: their names do not fit on one command line. "
             L"Select fewer files, or their folder.");
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    }
    if (!hooks.launch(hooks.context, executable.c_str(), line->c_str())) {
        const DWORD error = GetLastError();
        tell(L"Korvane File could not be started (" + executable + L"): " + system_message(error));
        return HRESULT_FROM_WIN32(error ? error : ERROR_GEN_FAILURE);
    }
    return S_OK;
}

KvnMenuHooks platform_hooks() { return {create_process, message_box, nullptr}; }

}  // namespace korvane::menu
