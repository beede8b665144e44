// Install, uninstall and the ".cry" file type, with korvane.exe run as a real
// process on a copy in a scratch folder (uninstall schedules the program and
// its folder for deletion).
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

#include "e2e_support.h"
#include "platform/platform.h"
#include "platform/win32/scoped_win.h"
#include "platform/win32/wide.h"
#include "resources/resource_ids.h"
#include "shell/registration.h"
#include "unit/temp_folder.h"
#include "win/shell_support.h"

namespace korvane {
namespace {

using namespace shell_test;

std::string desktop_file(const char* name) {
    char desktop[MAX_PATH] = {};
    SHGetSpecialFolderPathA(nullptr, desktop, CSIDL_DESKTOPDIRECTORY, FALSE);
    return std::string(desktop) + "\\" + name;
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A string value under HKEY_CLASSES_ROOT as UTF-8, read wide.
std::string wide_value(const std::string& key, const wchar_t* name) {
    wchar_t data[1024] = {};
    DWORD size = sizeof data;
    if (RegGetValueW(HKEY_CLASSES_ROOT, win::widen(key).c_str(), name, RRF_RT_REG_SZ, nullptr, data,
                     &size) != ERROR_SUCCESS)
        return "(none)";
    return win::narrow(data);
}

// A shell link's target as UTF-8, from its item list, which the shell
// follows when the link is opened. (Wine keeps the link's other copy of the
// path in the ANSI code page only.)
std::string link_target(const std::string& link) {
    const win::ComScope com;
    win::ComPtr<IShellLinkW> shell_link;
    win::ComPtr<IPersistFile> file;
    LPITEMIDLIST raw = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                shell_link.put_void())) ||
        FAILED(shell_link->QueryInterface(IID_IPersistFile, file.put_void())) ||
        FAILED(file->Load(win::widen(link).c_str(), STGM_READ)) ||
        FAILED(shell_link->GetIDList(&raw)) || !raw)
        return "(unreadable)";
    const win::ScopedPidl pidl(raw);
    wchar_t target[MAX_PATH] = {};
    if (!SHGetPathFromIDListW(pidl.get(), target)) return "(no path)";
    return win::narrow(target);
}

class ShellEndToEnd : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(lock_.owned());
        exe_ = temp_ / "korvane.exe";
        ASSERT_TRUE(CopyFileA(test::product_path().c_str(), exe_.c_str(), FALSE));
    }
    void TearDown() override {
        // Leave no registration behind for the other tests.
        test::ProductProcess cleanup(exe_, "-v");
        cleanup.wait_for_exit();
        pending_.restore();
    }
    int run(const char* arguments) {
        test::ProductProcess product(exe_, arguments);
        EXPECT_TRUE(product.started());
        return product.wait_for_exit();
    }
    bool installed() {
        return key_exists(".cry") && key_exists("cryfile\\shell\\open\\Command") &&
               is_context_menu_handler_registered(handler_class_id, handler_name) == 1 &&
               exists(desktop_file("Lock File.lnk")) && exists(desktop_file("Unlock File.lnk"));
    }
    bool nothing_installed() {
        return !key_exists(".cry") && !key_exists("cryfile") &&
               is_context_menu_handler_registered(handler_class_id, handler_name) == 0 &&
               !exists(desktop_file("Lock File.lnk")) && !exists(desktop_file("Unlock File.lnk"));
    }

    SharedStateLock lock_;
    PendingRenamesGuard pending_;
    test::TempFolder temp_;
    std::string exe_;
};

TEST_F(ShellEndToEnd, InstallThroughTheElevatedInstanceThenUninstall) {
    ASSERT_EQ(run("-v"), 0);
    ASSERT_TRUE(nothing_installed());
    // The first instance only starts an elevated one with "-J" and passes on its code.
    EXPECT_EQ(run("-i"), 0);
    EXPECT_TRUE(installed());
    const auto command = read_value("cryfile\\shell\\open\\Command", nullptr);
    ASSERT_TRUE(command);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(command->data.data())),
              "\"" + exe_ + "\" -d \"%1\"");

    // The user's own settings outlive the program, as other programs' do.
    PWSTR raw = nullptr;
    ASSERT_EQ(SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &raw), S_OK);
    const std::string own_folder = win::narrow(raw) + "\\Korvane File";
    CoTaskMemFree(raw);
    const std::string own_ini = own_folder + "\\korvane.ini";
    ASSERT_FALSE(exists(own_ini)) << own_ini;
    CreateDirectoryA(own_folder.c_str(), nullptr);
    ASSERT_TRUE(test::write_file(own_ini, "[default]\r\ndecrypt_path=1\r\n"));
    EXPECT_EQ(run("-u"), 0);
    EXPECT_TRUE(exists(own_ini));
    DeleteFileA(own_ini.c_str());
    RemoveDirectoryA(own_folder.c_str());
    EXPECT_TRUE(nothing_installed());
    // The program, the cipher library, both menu libraries and the folder
    // wait for deletion at the next start.
    const auto pending = pending_renames();
    ASSERT_GE(pending.size(), 5u);
    const std::size_t first = pending.size() - 5;
    EXPECT_NE(pending[first].first.find("korvane.exe"), std::string::npos);
    EXPECT_NE(pending[first + 1].first.find("AesEnc.dll"), std::string::npos);
    EXPECT_NE(pending[first + 2].first.find("kvnmenu.dll"), std::string::npos);
    EXPECT_NE(pending[first + 3].first.find("kvnmenu64.dll"), std::string::npos);
    for (std::size_t i = first; i < pending.size(); ++i) EXPECT_EQ(pending[i].second, "");
}

// Installed in a folder whose name code page 1252 cannot hold, the program
// still registers paths that lead back to it, runs from there, and goes.
TEST_F(ShellEndToEnd, InstalledUnderAFolderOutsideTheCodePage) {
    ASSERT_EQ(GetACP(), 1252u);
    const std::string folder = temp_ / "\xe6\x97\xa5\xe6\x9c\xac";  // 日本
    ASSERT_TRUE(CreateDirectoryW(win::widen(folder).c_str(), nullptr));
    exe_ = folder + "\\korvane.exe";
    ASSERT_TRUE(
        CopyFileW(win::widen(test::product_path()).c_str(), win::widen(exe_).c_str(), FALSE));

    EXPECT_EQ(run("-i"), 0);
    EXPECT_TRUE(installed());
    EXPECT_EQ(wide_value("cryfile\\shell\\open\\Command", nullptr), "\"" + exe_ + "\" -d \"%1\"");
    EXPECT_EQ(wide_value("cryfile\\DefaultIcon", nullptr), exe_ + ",1");
    EXPECT_EQ(wide_value(std::string("CLSID\\{") + handler_class_id + "}\\InprocServer32", nullptr),
              folder + (sizeof(void*) == 8 ? "\\kvnmenu64.dll" : "\\kvnmenu.dll"));
    EXPECT_EQ(link_target(desktop_file("Lock File.lnk")), exe_);

    // It runs from there; uninstall finds the INI file beside it and deletes it.
    ASSERT_TRUE(test::write_file(folder + "\\korvane.ini", "[default]\r\ndecrypt_path=1\r\n"));
    test::ProductProcess product(exe_, "-d \"" + folder + "\\a.cry\"");
    const HWND dialog = product.wait_for_main_window();
    ASSERT_TRUE(dialog);
    EXPECT_EQ(test::control_text(dialog, IDC_HEADING), "Decryption");
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(product.wait_for_exit(), 0);

    EXPECT_EQ(run("-u"), 0);
    EXPECT_TRUE(nothing_installed());
    platform::FindData ini;
    EXPECT_FALSE(platform::find_path((folder + "\\korvane.ini").c_str(), ini));
}

TEST_F(ShellEndToEnd, ElevatedSwitchActsAtOnce) {
    EXPECT_EQ(run("-j"), 0);
    EXPECT_TRUE(installed());
    EXPECT_EQ(run("-j"), 0);  // twice is once
    EXPECT_TRUE(installed());
    // What the settings dialog's context-menu box asks of an elevated instance.
    EXPECT_EQ(run("-n"), 0);
    EXPECT_EQ(is_context_menu_handler_registered(handler_class_id, handler_name), 0);
    EXPECT_TRUE(key_exists("cryfile\\shell\\open\\Command"));
    EXPECT_EQ(run("-m"), 0);
    EXPECT_TRUE(installed());
}

TEST_F(ShellEndToEnd, OpeningACryFileStartsItsDecryption) {
    ASSERT_EQ(run("-j"), 0);
    const auto command = read_value("cryfile\\shell\\open\\Command", nullptr);
    ASSERT_TRUE(command);
    std::string line(reinterpret_cast<const char*>(command->data.data()));
    const std::string archive = temp_ / "My Archive.cry";
    test::write_file(archive, "not opened yet");
    // The shell replaces %1 with the file's path.
    line.replace(line.find("%1"), 2, archive);
    ASSERT_EQ(line.rfind("\"" + exe_ + "\" ", 0), 0u);
    test::ProductProcess product(exe_, line.substr(exe_.size() + 3));
    const HWND dialog = product.wait_for_main_window();
    ASSERT_TRUE(dialog);
    EXPECT_EQ(test::control_text(dialog, IDC_HEADING), "Decryption");
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(dialog, IDC_DECRYPT_PASSWORD)));
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(product.wait_for_exit(), 0);
}

}  // namespace
}  // namespace korvane
