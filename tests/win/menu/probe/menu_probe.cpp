// Stands in for Explorer: finds the right-click handler by its name under
// AllFilesystemObjects, creates its class through COM, lets it fill a menu
// for the selection and, when asked, invokes its item by offset as Explorer
// does. Built 32- and 64-bit, so the tests see what each kind of host sees.
//
// Usage: menu_probe REPORT [--invoke] PATH...
// REPORT gets one fact a line, UTF-8:
//   class {...}           the class the handler name points at
//   server PATH           its InprocServer32 library, as this host's view has it
//   item TEXT             each menu item the handler added
//   invoke 0xHRESULT      with --invoke
//   fail STEP 0xHRESULT   the step that stopped the probe
// The exit code is 0 when every step worked, 1 otherwise, 2 on bad usage.
#include <windows.h>

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/scoped_win.h"
#include "win/menu/drop_data.h"

namespace {

using korvane::win::ComPtr;
using korvane::win::ComScope;
using korvane::win::ScopedKey;

constexpr const wchar_t* handler_key =
    L"AllFilesystemObjects\\shellex\\ContextMenuHandlers\\kvnmenu";

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

class Report {
  public:
    explicit Report(const wchar_t* path) : file_(_wfopen(path, L"wb")) {}
    explicit operator bool() const { return file_ != nullptr; }
    void line(const char* tag, const std::wstring& text) {
        std::string utf8;
        const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                          nullptr, 0, nullptr, nullptr);
        if (n > 0) {
            utf8.resize(static_cast<std::size_t>(n));
            WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                utf8.data(), n, nullptr, nullptr);
        }
        std::fprintf(file_.get(), "%s %s\n", tag, utf8.c_str());
    }
    void result(const char* tag, const char* step, HRESULT hr) {
        std::fprintf(file_.get(), "%s%s%s 0x%08lX\n", tag, step[0] ? " " : "", step,
                     static_cast<unsigned long>(hr));
    }

  private:
    std::unique_ptr<std::FILE, FileCloser> file_;
};

// A string value, or empty when the key or the value is missing.
std::wstring read_default(const wchar_t* key_name) {
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key_name, 0, KEY_READ, &raw) != ERROR_SUCCESS) return {};
    const ScopedKey key(raw);
    wchar_t data[1024] = {};
    DWORD size = sizeof data - sizeof(wchar_t);  // room for a terminator it may lack
    DWORD type = 0;
    if (RegQueryValueExW(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(data),
                         &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return {};
    return data;
}

int probe(Report& report, bool invoke, const std::vector<std::wstring>& paths) {
    const auto fail = [&](const char* step, HRESULT hr) {
        report.result("fail", step, hr);
        return 1;
    };
    const std::wstring class_text = read_default(handler_key);
    if (class_text.empty()) return fail("handler-name", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    report.line("class", class_text);
    CLSID clsid = {};
    HRESULT hr = CLSIDFromString(class_text.c_str(), &clsid);
    if (FAILED(hr)) return fail("class-id", hr);
    report.line("server", read_default((L"CLSID\\" + class_text + L"\\InprocServer32").c_str()));

    IShellExtInit* raw_init = nullptr;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                          reinterpret_cast<void**>(&raw_init));
    if (FAILED(hr)) return fail("create", hr);
    const ComPtr<IShellExtInit> init(raw_init);
    korvane::menu_test::DropData data(korvane::menu_test::drop_block(paths));
    hr = init->Initialize(nullptr, &data, nullptr);
    if (FAILED(hr)) return fail("initialize", hr);
    IContextMenu* raw_menu = nullptr;
    hr = init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&raw_menu));
    if (FAILED(hr)) return fail("context-menu", hr);
    const ComPtr<IContextMenu> menu(raw_menu);

    struct MenuDestroyer {
        void operator()(HMENU m) const { DestroyMenu(m); }
    };
    const std::unique_ptr<std::remove_pointer_t<HMENU>, MenuDestroyer> popup(CreatePopupMenu());
    if (!popup) return fail("popup", HRESULT_FROM_WIN32(GetLastError()));
    hr = menu->QueryContextMenu(popup.get(), 0, 1, 0x7FFF, CMF_NORMAL);
    if (FAILED(hr)) return fail("query", hr);
    const int count = GetMenuItemCount(popup.get());
    for (int i = 0; i < count; ++i) {
        wchar_t text[256] = {};
        GetMenuStringW(popup.get(), static_cast<UINT>(i), text, 256, MF_BYPOSITION);
        report.line("item", text);
    }
    if (count == 0) return fail("no-item", hr);
    if (!invoke) return 0;

    CMINVOKECOMMANDINFOEX info = {};
    info.cbSize = sizeof info;
    // No message box could be answered here: failures come back as results.
    info.fMask = CMIC_MASK_UNICODE | CMIC_MASK_FLAG_NO_UI;
    info.lpVerb = MAKEINTRESOURCEA(0);
    info.lpVerbW = MAKEINTRESOURCEW(0);
    info.nShow = SW_SHOWNORMAL;
    hr = menu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&info));
    report.result("invoke", "", hr);
    return FAILED(hr) ? 1 : 0;
}

}  // namespace

int main() {
    int argc = 0;
    const std::unique_ptr<wchar_t*, decltype(&LocalFree)> argv(
        CommandLineToArgvW(GetCommandLineW(), &argc), &LocalFree);
    if (!argv || argc < 3) return 2;
    Report report(argv.get()[1]);
    if (!report) return 2;
    int first = 2;
    const bool invoke = std::wstring(argv.get()[2]) == L"--invoke";
    if (invoke) ++first;
    std::vector<std::wstring> paths(argv.get() + first, argv.get() + argc);
    if (paths.empty()) return 2;
    const ComScope com;
    return probe(report, invoke, paths);
}
