// Put in place of korvane.exe after install, so that a test sees exactly the
// command line the handler starts it with: appends that line, UTF-8, to
// launch.txt in its own folder and exits.
#include <windows.h>

#include <cstdio>
#include <string>

int main() {
    wchar_t self[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 1;
    std::wstring log(self);
    log.resize(log.find_last_of(L'\\') + 1);
    log += L"launch.txt";

    const wchar_t* line = GetCommandLineW();
    const int size = WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return 1;
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line, -1, utf8.data(), size, nullptr, nullptr);
    utf8.back() = '\n';
    std::FILE* file = _wfopen(log.c_str(), L"ab");
    if (!file) return 1;
    const bool written = std::fwrite(utf8.data(), 1, utf8.size(), file) == utf8.size();
    return std::fclose(file) == 0 && written ? 0 : 1;
}
