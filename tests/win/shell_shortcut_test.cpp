#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "shell/shortcut.h"
#include "shell_link_reader.h"
#include "shell_support.h"

namespace korvane {
namespace {

using namespace shell_test;

std::string running_executable() {
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, sizeof exe);
    return exe;
}

class ShellShortcut : public testing::Test {
  protected:
    ComThread com_;
    ScratchFolder desktop_{"shortcut"};
};

TEST_F(ShellShortcut, LinksTheRunningExecutable) {
    struct Case {
        const char* name;
        const char* arguments;
        int icon_index;
    } cases[] = {
        {"Lock File.lnk", "-c", 2},
        {"Unlock File.lnk", "-d", 3},
        {"Plain.lnk", nullptr, 0},
    };
    const std::string exe = running_executable();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string link = desktop_.file(c.name);
        ASSERT_EQ(create_shortcut(link.c_str(), c.arguments, nullptr, c.icon_index), 1);
        const LinkReadBack back = read_link(link);
        ASSERT_TRUE(back.loaded);
        EXPECT_TRUE(lstrcmpiA(back.target.c_str(), exe.c_str()) == 0) << back.target;
        EXPECT_EQ(back.arguments, c.arguments ? c.arguments : "");
        EXPECT_EQ(back.working_directory, "");
        if (c.icon_index != 0) {
            EXPECT_NE(back.header_flags & link_has_icon_location, 0u);
            EXPECT_TRUE(lstrcmpiA(back.icon_file.c_str(), exe.c_str()) == 0) << back.icon_file;
            EXPECT_EQ(back.icon_index, c.icon_index);
        } else {
            // Index 0 means no icon: nothing is stored, not "exe,0".
            EXPECT_EQ(back.header_flags & link_has_icon_location, 0u);
            EXPECT_EQ(back.icon_file, "");
        }
    }
}

TEST_F(ShellShortcut, ReplacesAnExistingFile) {
    const std::string link = desktop_.file("Lock File.lnk");
    write_file(link, std::string(8000, 'x'));
    ASSERT_EQ(create_shortcut(link.c_str(), "-c", nullptr, 2), 1);
    const auto bytes = read_file(link);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_LT(bytes.size(), 8000u);  // truncated, not written over in place
    EXPECT_EQ(bytes[0], 0x4C);
    EXPECT_TRUE(read_link(link).loaded);
    EXPECT_EQ(read_link(link).arguments, "-c");
}

TEST_F(ShellShortcut, EmptyOrUnwritablePathFailsWithoutWriting) {
    // Relative names would land in the current folder: make that the scratch one.
    char previous[MAX_PATH] = {};
    ASSERT_GT(GetCurrentDirectoryA(sizeof previous, previous), 0u);
    ASSERT_TRUE(SetCurrentDirectoryA(desktop_.path().string().c_str()));
    const std::string missing_folder = desktop_.file("no such folder\\Lock File.lnk");
    const std::string too_long = desktop_.file(std::string(300, 'n') + ".lnk");
    struct Case {
        const char* label;
        const char* path;
    } cases[] = {
        {"empty", ""},
        {"null", nullptr},
        {"missing folder", missing_folder.c_str()},
        {"too long", too_long.c_str()},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(create_shortcut(c.path, "-c", nullptr, 2), 0) << c.label;
        EXPECT_TRUE(folder_names(desktop_.path()).empty()) << c.label;
    }
    EXPECT_EQ(create_shortcut_to("", desktop_.file("x.lnk").c_str(), "-c", nullptr, 2), 0);
    EXPECT_TRUE(folder_names(desktop_.path()).empty());
    SetCurrentDirectoryA(previous);
}

}  // namespace
}  // namespace korvane
