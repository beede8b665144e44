#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "shell/install.h"
#include "shell/shell_paths.h"

namespace korvane {
namespace {

TEST(ShellPaths, DriveAndFolder) {
    struct Case {
        const char* path;
        const char* folder;
    } cases[] = {
        {"C:\\Program Files\\Korvane\\korvane.exe", "C:\\Program Files\\Korvane\\"},
        {"C:\\korvane.exe", "C:\\"},
        {"C:korvane.exe", "C:"},
        {"\\\\server\\share\\k.exe", "\\\\server\\share\\"},
        {"D:/mixed\\sep/k.exe", "D:/mixed\\sep/"},
        {"korvane.exe", ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        char out[shell_path_size] = "junk";
        EXPECT_TRUE(drive_and_folder(c.path, out, sizeof out)) << c.path;
        EXPECT_STREQ(out, c.folder) << c.path;
    }
    char small[4] = "xyz";
    EXPECT_FALSE(drive_and_folder("C:\\ab\\k.exe", small, sizeof small));
    EXPECT_STREQ(small, "");
}

// The package's copy puts its shortcuts on the common desktop; any other
// copy (the zip's, a copy of the installed files) on the user's.
TEST(ShellPaths, OnlyThePackagesOwnFolderCountsAsItsInstall) {
    struct Case {
        const char* executable;
        const char* recorded;
        bool packaged;
    } cases[] = {
        {"C:\\Program Files\\Korvane File\\korvane.exe", "C:\\Program Files\\Korvane File\\", true},
        {"C:\\Program Files\\Korvane File\\korvane.exe", "C:\\Program Files\\Korvane File", true},
        {"c:\\PROGRAM FILES\\korvane file\\korvane.exe", "C:\\Program Files\\Korvane File\\", true},
        {"C:\\Tools\\Korvane\\korvane.exe", "C:\\Tools\\Korvane\\", true},
        {"C:\\Tools\\Korvane\\korvane.exe", "C:\\Program Files\\Korvane File\\", false},
        {"C:\\Tools\\Korvane\\Sub\\korvane.exe", "C:\\Tools\\Korvane\\", false},
        {"C:\\Tools\\korvane.exe", "C:\\Tools\\Korvane\\", false},
        {"C:\\Tools\\Korvane\\korvane.exe", "", false},
        {"korvane.exe", "", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(installed_by_package(c.executable, c.recorded), c.packaged)
            << c.executable << " against " << c.recorded;
}

TEST(ShellPaths, ShortcutPathsFollowTheDesktop) {
    ShellPaths paths;
    form_shortcut_paths("C:\\users\\me\\Desktop", paths);
    EXPECT_STREQ(paths.lock_shortcut_path, "C:\\users\\me\\Desktop\\Lock File.lnk");
    EXPECT_STREQ(paths.unlock_shortcut_path, "C:\\users\\me\\Desktop\\Unlock File.lnk");

    // No desktop, or one so long that a name would be cut: nothing to write to.
    const std::string long_desktop = "C:\\" + std::string(243, 'd');  // 246 + 1 + 13 > 259
    const std::string fits = "C:\\" + std::string(241, 'd');          // lock fits, unlock not
    std::string wide_script = "C:\\";  // 360 bytes of UTF-8, but 123 characters
    for (int i = 0; i < 120; ++i) wide_script += "\xe6\x97\xa5";
    struct Case {
        const char* desktop;
        bool lock_empty;
        bool unlock_empty;
    } cases[] = {
        {nullptr, true, true},
        {"", true, true},
        {long_desktop.c_str(), true, true},
        {fits.c_str(), false, true},
        {wide_script.c_str(), false, false},
    };
    for (const Case& c : cases) {
        ShellPaths p;
        form_shortcut_paths("C:\\old", p);
        form_shortcut_paths(c.desktop, p);
        EXPECT_EQ(p.lock_shortcut_path[0] == '\0', c.lock_empty)
            << (c.desktop ? c.desktop : "null");
        EXPECT_EQ(p.unlock_shortcut_path[0] == '\0', c.unlock_empty)
            << (c.desktop ? c.desktop : "null");
    }
}

TEST(ShellPaths, LibraryBesideTheExecutable) {
    const std::string deep = "C:\\" + std::string(245, 'f') + "\\k.exe";  // no room for kvnmenu.dll
    // Room for kvnmenu.dll (259 bytes) but not for kvnmenu64.dll, two longer.
    const std::string tight = "C:\\" + std::string(244, 'f') + "\\";
    struct Case {
        std::string executable;
        std::string library;
        const char* library64;
    } cases[] = {
        {"C:\\Program Files\\Korvane\\korvane.exe", "C:\\Program Files\\Korvane\\kvnmenu.dll",
         "C:\\Program Files\\Korvane\\kvnmenu64.dll"},
        {"E:\\korvane.exe", "E:\\kvnmenu.dll", "E:\\kvnmenu64.dll"},
        {"", "", ""},
        {deep, "", ""},
        {tight + "k.exe", tight + "kvnmenu.dll", ""},
    };
    for (const Case& c : cases) {
        ShellPaths p;
        form_library_path(c.executable.c_str(), p);
        EXPECT_EQ(p.menu_library_path, c.library) << c.executable;
        EXPECT_STREQ(p.menu_library64_path, c.library64) << c.executable;
        EXPECT_EQ(std::string(p.executable_path), c.executable);
    }
}

TEST(ShellPaths, StartUpFormsEveryPath) {
    const ShellPaths shell_paths = form_shell_paths();
    const std::string desktop = desktop_folder();
    ASSERT_FALSE(desktop.empty());
    EXPECT_EQ(std::string(shell_paths.lock_shortcut_path), desktop + "\\Lock File.lnk");
    EXPECT_EQ(std::string(shell_paths.unlock_shortcut_path), desktop + "\\Unlock File.lnk");

    char exe[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, exe, sizeof exe), 0u);
    std::string library = exe;
    library.replace(library.rfind('\\') + 1, std::string::npos, "kvnmenu.dll");
    EXPECT_STREQ(shell_paths.executable_path, exe);
    EXPECT_EQ(std::string(shell_paths.menu_library_path), library);
}

TEST(ShellPaths, UninstallSchedulesInOrder) {
    struct Case {
        const char* executable;
        std::vector<std::string> scheduled;
    } cases[] = {
        {"C:\\Tools\\Korvane\\korvane.exe",
         {"C:\\Tools\\Korvane\\korvane.exe", "C:\\Tools\\Korvane\\AesEnc.dll",
          "C:\\Tools\\Korvane\\kvnmenu.dll", "C:\\Tools\\Korvane\\kvnmenu64.dll",
          "C:\\Tools\\Korvane"}},
        // A drive root is never removed: "C:" would be the current folder.
        {"C:\\korvane.exe",
         {"C:\\korvane.exe", "C:\\AesEnc.dll", "C:\\kvnmenu.dll", "C:\\kvnmenu64.dll"}},
        {"", {}},
    };
    for (const Case& c : cases) {
        ShellPaths p;
        form_library_path(c.executable, p);
        EXPECT_EQ(scheduled_deletions(p), c.scheduled) << c.executable;
    }
}

TEST(ShellElevation, OnlyNtSixAndLaterRelaunch) {
    struct Case {
        StartupMode mode;
        unsigned long platform, major;
        const char* expected;
    } cases[] = {
        {mode_settings, 2, 6, nullptr},  // writes the user's own file
        {mode_install, 2, 6, "-J"},
        {mode_uninstall, 2, 10, "-V"},
        {mode_install, 2, 5, nullptr},           // NT 5 acts at once
        {mode_install, 1, 6, nullptr},           // not the NT family
        {mode_install_elevated, 2, 6, nullptr},  // already elevated
        {mode_settings_elevated, 2, 6, nullptr},
        {mode_uninstall_elevated, 2, 6, nullptr},
        {mode_encrypt, 2, 6, nullptr},
        {mode_none, 2, 6, nullptr},
    };
    for (const Case& c : cases) {
        const char* got = relaunch_switch_for(c.mode, elevation_required(c.platform, c.major));
        EXPECT_EQ(got ? std::string(got) : "none", c.expected ? c.expected : "none")
            << "mode " << c.mode << " platform " << c.platform << " major " << c.major;
    }

    // Wine reports NT 6.1: -i re-launches here.
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    ASSERT_TRUE(GetVersionExA(&version));
    ASSERT_EQ(version.dwPlatformId, 2u);
    ASSERT_GE(version.dwMajorVersion, 6u);
    EXPECT_STREQ(relaunch_switch_for(mode_install, elevation_required()), "-J");
    EXPECT_STREQ(relaunch_switch_for(mode_uninstall, elevation_required()), "-V");
    EXPECT_EQ(relaunch_switch_for(mode_settings, elevation_required()), nullptr);
    EXPECT_EQ(relaunch_switch_for(mode_install_elevated, elevation_required()), nullptr);
}

}  // namespace
}  // namespace korvane
