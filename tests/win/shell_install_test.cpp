#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "shell/install.h"
#include "shell/registration.h"
#include "shell_link_reader.h"
#include "shell_support.h"

namespace korvane {
namespace {

using namespace shell_test;

const std::vector<std::string> installed_keys = {
    ".cry", "cryfile", "CLSID\\{4B7D2A10-93E5-4c1f-A6B8-0F3C5E71D294}",
    "AllFilesystemObjects\\shellex\\ContextMenuHandlers\\kvnmenu"};

// A copy of the product's folder in a scratch place: a stand-in executable,
// its INI file and kvnmenu.dll, and a desktop of its own. The fixed
// registration is shared by every test process, so these tests hold the lock.
class ShellInstall : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(lock_.owned());
        clean_registry();
        fs::create_directories(root_.path() / "Korvane File");
        fs::create_directories(root_.path() / "Desktop");
        exe_ = root_.file("Korvane File\\korvane.exe");
        ini_ = root_.file("Korvane File\\korvane.ini");
        write_file(exe_, "MZ stand-in");
        write_file(ini_, "[default]\r\n");
        write_file(root_.file("Korvane File\\kvnmenu.dll"), "MZ");
        form_library_path(exe_.c_str(), paths_);
        form_shortcut_paths((root_.path() / "Desktop").string().c_str(), paths_);
    }
    void TearDown() override { clean_registry(); }
    static void clean_registry() {
        for (const std::string& key : installed_keys) delete_tree(key);
    }

    SharedStateLock lock_;
    ComThread com_;
    ScratchFolder root_{"install"};
    std::string exe_, ini_;
    ShellPaths paths_;
};

TEST_F(ShellInstall, WritesShortcutsAndBothTables) {
    EXPECT_EQ(install_shell_integration(paths_), 0);

    const std::string folder = root_.file("Korvane File\\");
    const std::string id = "CLSID\\{4B7D2A10-93E5-4c1f-A6B8-0F3C5E71D294}";
    struct Row {
        std::string key;
        const char* value;
        RegValue expected;
    } rows[] = {
        {".cry", nullptr, sz("cryfile")},
        {"cryfile", nullptr, sz("Encryption file")},
        {"cryfile", "EditFlags", binary({0, 0, 0, 0})},
        {"cryfile", "BrowserFlags", binary({0, 0, 0, 0})},
        {"cryfile\\DefaultIcon", nullptr, sz(exe_ + ",1")},
        {"cryfile\\shell\\open\\Command", nullptr, sz("\"" + exe_ + "\" -d \"%1\"")},
        {"cryfile\\shell\\open", nullptr, sz("Decryption")},
        {id, nullptr, sz("Korvane ContextMenu Encryption")},
        {id + "\\InprocServer32", nullptr, sz(folder + own_width_library)},
        {id + "\\InprocServer32", "ThreadingModel", sz("Apartment")},
        {"AllFilesystemObjects\\shellex\\ContextMenuHandlers\\kvnmenu", nullptr,
         sz("{4B7D2A10-93E5-4c1f-A6B8-0F3C5E71D294}")},
    };
    for (const Row& r : rows) {
        const auto got = read_value(r.key, r.value);
        ASSERT_TRUE(got) << r.key << " " << (r.value ? r.value : "(default)");
        EXPECT_EQ(*got, r.expected) << r.key << " " << (r.value ? r.value : "(default)");
    }
    // 9 keys and the 11 values above, nothing more.
    EXPECT_EQ(dump(installed_keys).size(), 20u);
    EXPECT_EQ(is_context_menu_handler_registered(handler_class_id, handler_name), 1);

    struct Link {
        const char* path;
        const char* arguments;
        int icon;
    } links[] = {{paths_.lock_shortcut_path, "-c", 2}, {paths_.unlock_shortcut_path, "-d", 3}};
    for (const Link& l : links) {
        const LinkReadBack back = read_link(l.path);
        ASSERT_TRUE(back.loaded) << l.path;
        EXPECT_TRUE(lstrcmpiA(back.target.c_str(), exe_.c_str()) == 0) << back.target;
        EXPECT_EQ(back.arguments, l.arguments);
        EXPECT_EQ(back.icon_index, l.icon);
        EXPECT_TRUE(lstrcmpiA(back.icon_file.c_str(), exe_.c_str()) == 0) << back.icon_file;
    }
}

// What a shortcut says, read back. Its bytes would not do: the item list
// carries the times of every folder above the target, which the file system
// moves whenever something is made in them (a new prefix's profile folder
// between two installs).
auto shortcut_fields(const std::string& path) {
    const LinkReadBack l = read_link(path);
    return std::make_tuple(l.loaded, l.target, l.arguments, l.working_directory, l.icon_file,
                           l.icon_index, l.header_flags);
}

TEST_F(ShellInstall, TwiceEqualsOnce) {
    install_shell_integration(paths_);
    const RegDump once = dump(installed_keys);
    const auto lock_once = shortcut_fields(paths_.lock_shortcut_path);
    ASSERT_TRUE(std::get<0>(lock_once));
    install_shell_integration(paths_);
    EXPECT_EQ(dump(installed_keys), once);
    EXPECT_EQ(shortcut_fields(paths_.lock_shortcut_path), lock_once);
    EXPECT_EQ(folder_names(root_.path() / "Desktop"),
              (std::vector<std::string>{"Lock File.lnk", "Unlock File.lnk"}));
}

TEST_F(ShellInstall, WithoutDesktopWritesNoShortcut) {
    form_shortcut_paths(nullptr, paths_);
    char previous[MAX_PATH] = {};
    ASSERT_GT(GetCurrentDirectoryA(sizeof previous, previous), 0u);
    ASSERT_TRUE(SetCurrentDirectoryA(root_.file("Desktop").c_str()));
    install_shell_integration(paths_);
    SetCurrentDirectoryA(previous);
    EXPECT_TRUE(folder_names(root_.path() / "Desktop").empty());
    EXPECT_TRUE(key_exists(".cry"));  // the registrations still happen
}

TEST_F(ShellInstall, UninstallRemovesAndSchedules) {
    const std::string folder = root_.file("Korvane File");
    const std::vector<std::string> scheduled = {
        "\\??\\" + exe_, "\\??\\" + folder + "\\AesEnc.dll", "\\??\\" + folder + "\\kvnmenu.dll",
        "\\??\\" + folder + "\\kvnmenu64.dll", "\\??\\" + folder};
    // Also when nothing was installed: every file is still scheduled.
    for (const bool installed_first : {true, false}) {
        SCOPED_TRACE(installed_first ? "after install" : "nothing installed");
        PendingRenamesGuard guard;
        const auto before = pending_renames();
        write_file(ini_, "[default]\r\n");
        if (installed_first) install_shell_integration(paths_);
        ASSERT_TRUE(fs::exists(paths_.lock_shortcut_path) == installed_first);

        EXPECT_EQ(uninstall_shell_integration(paths_, ini_.c_str()), 0);

        EXPECT_TRUE(dump(installed_keys).empty());
        EXPECT_FALSE(fs::exists(paths_.lock_shortcut_path));
        EXPECT_FALSE(fs::exists(paths_.unlock_shortcut_path));
        EXPECT_FALSE(fs::exists(ini_));
        EXPECT_TRUE(fs::exists(exe_));  // only at the next restart
        EXPECT_TRUE(fs::exists(paths_.menu_library_path));

        const auto after = pending_renames();
        ASSERT_EQ(after.size(), before.size() + scheduled.size());
        for (std::size_t i = 0; i < scheduled.size(); ++i) {
            const auto& entry = after[before.size() + i];
            EXPECT_TRUE(lstrcmpiA(entry.first.c_str(), scheduled[i].c_str()) == 0)
                << entry.first << " != " << scheduled[i];
            EXPECT_EQ(entry.second, "") << entry.first;  // deletion, not a rename
        }
        guard.restore();
        EXPECT_EQ(pending_renames(), before);
    }
}

// The shell reports a launch that fails in a message box of the calling
// thread; a second thread answers it so that the test cannot hang.
class MessageBoxAnswerer {
  public:
    MessageBoxAnswerer()
        : caller_(GetCurrentThreadId()),
          thread_(CreateThread(nullptr, 0, &MessageBoxAnswerer::run, this, 0, nullptr)) {}
    ~MessageBoxAnswerer() {
        InterlockedExchange(&stop_, 1);
        if (thread_) {
            WaitForSingleObject(thread_, 10000);
            CloseHandle(thread_);
        }
    }
    MessageBoxAnswerer(const MessageBoxAnswerer&) = delete;
    MessageBoxAnswerer& operator=(const MessageBoxAnswerer&) = delete;
    bool running() const { return thread_ != nullptr; }

  private:
    static DWORD WINAPI run(void* self) {
        auto* me = static_cast<MessageBoxAnswerer*>(self);
        while (!InterlockedCompareExchange(&me->stop_, 0, 0)) {
            EnumThreadWindows(me->caller_, &MessageBoxAnswerer::answer, 0);
            Sleep(50);
        }
        return 0;
    }
    static BOOL CALLBACK answer(HWND window, LPARAM) {
        char name[16] = {};
        if (GetClassNameA(window, name, sizeof name) && lstrcmpA(name, "#32770") == 0)
            PostMessageA(window, WM_CLOSE, 0, 0);
        return TRUE;
    }

    DWORD caller_;
    volatile LONG stop_ = 0;
    HANDLE thread_;
};

TEST(ShellRelaunch, NotStartedGivesCancelled) {
    ScratchFolder folder("relaunch");
    const std::string missing = folder.file("missing.exe");
    const MessageBoxAnswerer answerer;
    ASSERT_TRUE(answerer.running());
    EXPECT_EQ(relaunch_elevated("-J", missing.c_str()), 1223);
    EXPECT_EQ(relaunch_elevated("-J", std::string(300, 'x').c_str()), 1223);
    EXPECT_EQ(relaunch_elevated(nullptr, missing.c_str()), 1223);
}

}  // namespace
}  // namespace korvane
