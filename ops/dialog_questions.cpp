#include "ops/dialog_questions.h"

#include "ops/job_messages.h"
#include "platform/win32/wide.h"
#include "shell/shell_paths.h"
#include "ui/file_dialog_host.h"
#include "ui/folder_browser.h"

namespace korvane {

namespace {

DWORD attributes_of(const std::string& path) {
    return GetFileAttributesW(win::system_path(path).c_str());
}

}  // namespace

std::string DialogQuestions::desktop_folder() {
    return korvane::desktop_folder();
}

std::string DialogQuestions::current_folder() {
    wchar_t folder[MAX_PATH];
    const DWORD n = GetCurrentDirectoryW(MAX_PATH, folder);
    return n > 0 && n < MAX_PATH ? win::narrow(folder) : ".";
}

platform::LocalTime DialogQuestions::now() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

bool DialogQuestions::exists_as_folder(const std::string& path) {
    const DWORD attributes = attributes_of(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DialogQuestions::exists_as_file(const std::string& path) {
    const DWORD attributes = attributes_of(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::optional<std::string> DialogQuestions::browse_folder(const char* title, bool new_style) {
    return browse_for_folder(owner_, title, new_style);
}

std::optional<std::string> DialogQuestions::save_file(const char* title,
                                                      const std::string& folder) {
    static constexpr wchar_t filter[] = L"Encryption file (*.cry)\0*.cry\0All files (*.*)\0*.*\0";
    FileDialogHost dialog(false, L"cry", "",
                          OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY, filter,
                          owner_);
    const std::wstring wide_title = win::widen(title);
    const std::wstring wide_folder = win::widen(folder);
    dialog.descriptor().lpstrTitle = wide_title.c_str();
    dialog.descriptor().lpstrInitialDir = folder.empty() ? nullptr : wide_folder.c_str();
    if (!dialog.run()) return std::nullopt;
    return dialog.file_name();
}

bool DialogQuestions::confirm_overwrite(const char* question) {
    return show_message(owner_, question, MB_YESNO | MB_ICONWARNING) == IDYES;
}

void DialogQuestions::show_error(const char* message) {
    show_message(owner_, message, MB_OK | MB_ICONWARNING);
}

}  // namespace korvane
