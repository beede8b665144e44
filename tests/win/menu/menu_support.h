// Helpers for the handler tests: the handler's objects, linked into the test
// and placed as if loaded from the built kvnmenu.dll, a data object carrying
// a CF_HDROP selection, and hooks that record the launch and the message box
// instead of starting a process or blocking on a window.
#pragma once

#include <windows.h>

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "menu/context_menu.h"
#include "menu/menu_hooks.h"
#include "win/menu/drop_data.h"

namespace korvane::menu_test {

// {4B7D2A10-93E5-4c1f-A6B8-0F3C5E71D294}, parsed from the text install writes.
inline CLSID handler_clsid() {
    CLSID id = {};
    const HRESULT hr = CLSIDFromString(L"{4B7D2A10-93E5-4c1f-A6B8-0F3C5E71D294}", &id);
    EXPECT_EQ(hr, S_OK);
    return id;
}

inline std::wstring folder_of(const std::wstring& path) {
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

inline std::wstring full_path(const std::wstring& path) {
    wchar_t out[MAX_PATH] = {};
    const DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH, out, nullptr);
    EXPECT_GT(n, 0u);
    EXPECT_LT(n, static_cast<DWORD>(MAX_PATH));
    return out;
}

// The DLL the build put beside korvane.exe.
inline std::wstring built_dll_path() {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::string relative = KORVANE_MENU_DLL_RELATIVE;
    return full_path(folder_of(self) + std::wstring(relative.begin(), relative.end()));
}

// The handler library of the tests' own width, which hosts of that width load.
inline const wchar_t* const own_width_library = sizeof(void*) == 8 ? L"kvnmenu64.dll" : L"kvnmenu.dll";

// A file in the test programs' folder (the probes, the launch recorder).
inline std::wstring beside_tests(const std::wstring& name) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return folder_of(self) + name;
}

inline std::string encode(UINT code_page, const std::wstring& s) {
    const int n = WideCharToMultiByte(code_page, 0, s.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 0) WideCharToMultiByte(code_page, 0, s.c_str(), -1, out.data(), n, nullptr, nullptr);
    return out;
}
inline std::string ansi(const std::wstring& s) {
    return encode(CP_ACP, s);
}
inline std::string utf8(const std::wstring& s) {
    return encode(CP_UTF8, s);
}

// Starts exe and waits up to a minute for its exit code; 0xFFFFFFFF when it
// did not start, 0xFFFFFFFE when it did not end (it is then ended).
inline DWORD run_and_wait(const std::wstring& exe, const std::wstring& arguments) {
    std::wstring line = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
        return 0xFFFFFFFF;
    CloseHandle(info.hThread);
    DWORD code = 0xFFFFFFFE;
    if (WaitForSingleObject(info.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(info.hProcess, &code);
    else
        TerminateProcess(info.hProcess, 1);
    CloseHandle(info.hProcess);
    return code;
}

// korvane.exe and both handler libraries copied from the build into a
// folder, where install may register them and uninstall schedule them.
// record_launches puts the launch recorder in korvane.exe's place, so a test
// reads the exact command line a handler starts it with.
class ProductCopy {
  public:
    explicit ProductCopy(const std::filesystem::path& folder) : folder_(folder.wstring() + L"\\") {
        const std::wstring built = folder_of(built_dll_path());
        for (const wchar_t* name : {L"korvane.exe", L"kvnmenu.dll", L"kvnmenu64.dll"})
            copied_ = copied_ && CopyFileW((built + name).c_str(), file(name).c_str(), FALSE);
    }
    bool copied() const { return copied_; }
    std::wstring file(const wchar_t* name) const { return folder_ + name; }
    std::wstring exe() const { return file(L"korvane.exe"); }

    bool record_launches() const {
        return MoveFileExW(exe().c_str(), file(L"korvane.product").c_str(),
                           MOVEFILE_REPLACE_EXISTING) &&
               CopyFileW(beside_tests(L"record_launch.exe").c_str(), exe().c_str(), FALSE);
    }
    // The recorder writes its line before it exits, so its image may still be
    // mapped when the line is read: retry while the file is busy.
    bool restore_product() const {
        for (int tries = 0; tries < 200; ++tries) {
            if (MoveFileExW(file(L"korvane.product").c_str(), exe().c_str(),
                            MOVEFILE_REPLACE_EXISTING))
                return true;
            const DWORD error = GetLastError();
            if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) return false;
            Sleep(50);
        }
        return false;
    }
    void forget_launches() const { DeleteFileW(file(L"launch.txt").c_str()); }
    // The recorded command lines (UTF-8), once one is complete; waits up to
    // timeout_ms, as the handler does not wait for the process it starts.
    std::vector<std::string> launches(DWORD timeout_ms = 30000) const {
        std::string text;
        for (DWORD waited = 0;; waited += 50) {
            std::ifstream in(std::filesystem::path(file(L"launch.txt")), std::ios::binary);
            text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            if ((!text.empty() && text.back() == '\n') || waited >= timeout_ms) break;
            Sleep(50);
        }
        std::vector<std::string> lines;
        for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
             start = end + 1)
            lines.push_back(text.substr(start, end - start));
        return lines;
    }

  private:
    std::wstring folder_;
    bool copied_ = true;
};

struct Recorder {
    std::vector<std::wstring> applications, lines, messages;
    std::vector<HWND> owners;
    BOOL launch_result = TRUE;
    DWORD launch_error = 0;

    static BOOL launch(void* context, const wchar_t* application, const wchar_t* line) {
        auto& self = *static_cast<Recorder*>(context);
        self.applications.emplace_back(application);
        self.lines.emplace_back(line);
        if (!self.launch_result) SetLastError(self.launch_error);
        return self.launch_result;
    }
    static void message(void* context, HWND owner, const wchar_t* text) {
        auto& self = *static_cast<Recorder*>(context);
        self.messages.emplace_back(text);
        self.owners.push_back(owner);
    }
};

inline CMINVOKECOMMANDINFO invoke_info() {
    CMINVOKECOMMANDINFO info = {};
    info.cbSize = sizeof info;
    return info;
}

// The handler's objects as kvnmenu.dll would make them when loaded from
// path: the DLL is loaded only to stand for that folder, where korvane.exe is
// looked for, and every launch and message goes to the recorder.
class MenuDll {
  public:
    explicit MenuDll(const std::wstring& path = built_dll_path())
        : path_(path), module_(LoadLibraryW(path.c_str())) {
        site_.module = module_;
        site_.hooks = {Recorder::launch, Recorder::message, &recorder};
    }
    ~MenuDll() {
        if (module_) FreeLibrary(module_);
    }
    MenuDll(const MenuDll&) = delete;
    MenuDll& operator=(const MenuDll&) = delete;

    bool ready() const { return module_ != nullptr; }
    const std::wstring& path() const { return path_; }
    HRESULT can_unload_now() const { return menu::can_unload() ? S_OK : S_FALSE; }
    HRESULT get_class_object(REFCLSID clsid, REFIID iid, void** out) const {
        return menu::get_class_object(site_, clsid, iid, out);
    }
    IClassFactory* factory() const {
        void* out = nullptr;
        EXPECT_EQ(get_class_object(handler_clsid(), IID_IClassFactory, &out), S_OK);
        return static_cast<IClassFactory*>(out);
    }

    Recorder recorder;

  private:
    std::wstring path_;
    HMODULE module_;
    menu::HandlerSite site_;
};

template <typename T>
struct Com {
    T* p = nullptr;
    Com() = default;
    explicit Com(T* raw) : p(raw) {}
    ~Com() { reset(); }
    Com(const Com&) = delete;
    Com& operator=(const Com&) = delete;
    void reset() {
        if (p) p->Release();
        p = nullptr;
    }
    void** out() {
        reset();
        return reinterpret_cast<void**>(&p);
    }
    T* operator->() const { return p; }
    explicit operator bool() const { return p != nullptr; }
};

struct Menu {
    HMENU handle = CreatePopupMenu();
    ~Menu() {
        if (handle) DestroyMenu(handle);
    }
    Menu(const Menu&) = delete;
    Menu& operator=(const Menu&) = delete;
    Menu() = default;
    std::wstring text(int index) const {
        wchar_t buffer[256] = {};
        MENUITEMINFOW item = {};
        item.cbSize = sizeof item;
        item.fMask = MIIM_STRING;
        item.dwTypeData = buffer;
        item.cch = 256;
        if (!GetMenuItemInfoW(handle, static_cast<UINT>(index), TRUE, &item)) return L"<none>";
        return buffer;
    }
};

// A handler already given a selection.
struct Selected {
    Com<IShellExtInit> init;
    Com<IContextMenu> menu;
    HRESULT initialised = E_FAIL;

    Selected(const MenuDll& dll, const std::vector<std::wstring>& paths) {
        Com<IClassFactory> factory(dll.factory());
        if (!factory) return;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IShellExtInit, init.out()), S_OK);
        if (!init) return;
        DropData data(drop_block(paths));
        initialised = init->Initialize(nullptr, &data, nullptr);
        EXPECT_EQ(data.references(), 1) << "the handler kept the data object";
        EXPECT_EQ(init->QueryInterface(IID_IContextMenu, menu.out()), S_OK);
    }
};

inline std::string narrow(const std::wstring& s) {
    std::string out;
    for (wchar_t c : s) out += c < 128 ? static_cast<char>(c) : '?';
    return out;
}

}  // namespace korvane::menu_test
