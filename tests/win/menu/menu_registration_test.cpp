#include <windows.h>

#include <shlobj.h>

#include <filesystem>

#include "win/menu/menu_support.h"
#include "win/shell_support.h"

namespace korvane::menu_test {
namespace {

using shell_test::delete_tree;
using shell_test::read_value;
using shell_test::sz;

const char* const clsid_key = "CLSID\\{4B7D2A10-93E5-4c1f-A6B8-0F3C5E71D294}";
const char* const handler_key = "AllFilesystemObjects\\shellex\\ContextMenuHandlers\\kvnmenu";

std::string ansi(const std::wstring& s) {
    const int n = WideCharToMultiByte(CP_ACP, 0, s.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? n - 1 : 0, '\0');
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, s.c_str(), -1, out.data(), n, nullptr, nullptr);
    return out;
}

DWORD run_and_wait(const std::wstring& exe, const std::wstring& arguments) {
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

// The desktop shortcuts that install also writes; removed again unless they
// were there before.
class DesktopShortcuts {
  public:
    DesktopShortcuts() {
        char desktop[MAX_PATH] = {};
        if (FAILED(SHGetFolderPathA(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, desktop))) return;
        for (const char* name : {"\\Lock File.lnk", "\\Unlock File.lnk"}) {
            const std::string path = std::string(desktop) + name;
            if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) created_.push_back(path);
        }
    }
    ~DesktopShortcuts() {
        for (const std::string& path : created_) DeleteFileA(path.c_str());
    }

  private:
    std::vector<std::string> created_;
};

TEST(MenuRegistration, InstalledHandlerIsReachedThroughCom) {
    shell_test::SharedStateLock lock;
    ASSERT_TRUE(lock.owned());
    DesktopShortcuts shortcuts;
    const auto clean = [] {
        for (const char* key : {".cry", "cryfile", clsid_key, handler_key}) delete_tree(key);
    };
    clean();
    struct Cleanup {
        decltype(clean)& run;
        ~Cleanup() { run(); }
    } cleanup{clean};

    const std::wstring dll = built_dll_path();
    const std::wstring exe = folder_of(dll) + L"korvane.exe";
    ASSERT_EQ(run_and_wait(exe, L"-j"), 0u);

    const auto server = read_value(std::string(clsid_key) + "\\InprocServer32", nullptr);
    ASSERT_TRUE(server);
    ASSERT_EQ(server->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(_stricmp(reinterpret_cast<const char*>(server->data.data()), ansi(dll).c_str()), 0)
        << reinterpret_cast<const char*>(server->data.data());
    EXPECT_EQ(read_value(std::string(clsid_key) + "\\InprocServer32", "ThreadingModel"),
              sz("Apartment"));

    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    {
        Com<IContextMenu> menu;
        ASSERT_EQ(CoCreateInstance(handler_clsid(), nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IContextMenu, menu.out()),
                  S_OK);
        // COM loaded the registered file: point its hooks at a recorder.
        const HMODULE loaded = GetModuleHandleW(dll.c_str());
        ASSERT_NE(loaded, nullptr);
        const auto set_hooks = export_of<KvnMenuSetHooksFn>(loaded, "KvnMenuSetHooks");
        ASSERT_NE(set_hooks, nullptr);
        Recorder recorder;
        const KvnMenuHooks hooks = {Recorder::launch, Recorder::message, &recorder};
        set_hooks(&hooks);

        Com<IShellExtInit> init;
        ASSERT_EQ(menu->QueryInterface(IID_IShellExtInit, init.out()), S_OK);
        DropData data(drop_block({L"C:\\one file.txt"}));
        ASSERT_EQ(init->Initialize(nullptr, &data, nullptr), S_OK);
        Menu popup;
        EXPECT_EQ(menu->QueryContextMenu(popup.handle, 0, 10, 20, CMF_NORMAL),
                  MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_NULL, 1));
        EXPECT_EQ(popup.text(0), L"Encrypt with Korvane File");
        CMINVOKECOMMANDINFO info = invoke_info();
        info.lpVerb = "encrypt";
        EXPECT_EQ(menu->InvokeCommand(&info), S_OK);
        ASSERT_EQ(recorder.lines.size(), 1u);
        EXPECT_EQ(recorder.lines[0], L"\"" + exe + L"\" -c \"C:\\one file.txt\"");
        set_hooks(nullptr);
    }
    CoUninitialize();
}

}  // namespace
}  // namespace korvane::menu_test
