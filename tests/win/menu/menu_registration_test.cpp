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

    // A copy, so that its korvane.exe can give way to the launch recorder.
    shell_test::ScratchFolder scratch("menu-copy");
    const ProductCopy product(scratch.path());
    ASSERT_TRUE(product.copied());
    const std::wstring dll = product.file(own_width_library);
    const std::wstring exe = product.exe();
    ASSERT_EQ(run_and_wait(exe, L"-j"), 0u);

    const auto server = read_value(std::string(clsid_key) + "\\InprocServer32", nullptr);
    ASSERT_TRUE(server);
    ASSERT_EQ(server->type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(_stricmp(reinterpret_cast<const char*>(server->data.data()), ansi(dll).c_str()), 0)
        << reinterpret_cast<const char*>(server->data.data());
    EXPECT_EQ(read_value(std::string(clsid_key) + "\\InprocServer32", "ThreadingModel"),
              sz("Apartment"));

    ASSERT_TRUE(product.record_launches());
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    {
        Com<IContextMenu> menu;
        ASSERT_EQ(CoCreateInstance(handler_clsid(), nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IContextMenu, menu.out()),
                  S_OK);
        // COM loaded the registered file, which offers no way to redirect
        // its launch to any code in the host's process.
        const HMODULE loaded = GetModuleHandleW(dll.c_str());
        ASSERT_NE(loaded, nullptr);
        EXPECT_EQ(GetProcAddress(loaded, "KvnMenuSetHooks"), nullptr);

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
        const std::vector<std::string> lines = product.launches();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], utf8(L"\"" + exe + L"\" -c \"C:\\one file.txt\""));
    }
    CoUninitialize();
    EXPECT_TRUE(product.restore_product());
}

}  // namespace
}  // namespace korvane::menu_test
