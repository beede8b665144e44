#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korvane {
namespace {

struct Case {
    const char* args;
    StartupMode mode;
    std::vector<std::string> entries;
};

class CommandLineTest : public testing::TestWithParam<Case> {};

TEST_P(CommandLineTest, ModeAndEntries) {
    const Case& c = GetParam();
    InputList inputs;
    EXPECT_EQ(parse_command_line(c.args, inputs), c.mode) << "args: [" << (c.args ? c.args : "null") << "]";
    std::vector<std::string> got;
    for (int i = 0; i < inputs.count(); ++i) got.emplace_back(inputs.at(i));
    EXPECT_EQ(got, c.entries) << "args: [" << (c.args ? c.args : "null") << "]";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLineTest,
    testing::Values(
        Case{nullptr, mode_none, {}},
        Case{"", mode_none, {}},
        Case{" ", mode_paths_only, {}},
        Case{"a   b", mode_paths_only, {"a", "b"}},
        Case{"-c \"C:\\My Files\\x.txt\" D:\\y.txt", mode_encrypt,
             {"C:\\My Files\\x.txt", "D:\\y.txt"}},
        Case{"-d -c x", mode_encrypt, {"x"}},
        Case{"x -D", mode_decrypt, {"x"}},
        Case{"-CRYPT", mode_encrypt, {}},
        Case{"-x", mode_unrecognised, {}},
        Case{"-", mode_unrecognised, {}},
        Case{"- a", mode_unrecognised, {"a"}},
        Case{"-c -", mode_unrecognised, {}},
        Case{"\"open ended", mode_paths_only, {"open ended"}},
        Case{"\"\"", mode_paths_only, {""}},
        Case{"\"ab\"cd e", mode_paths_only, {"ab", "cd", "e"}},
        Case{"a\"b c", mode_paths_only, {"a\"b", "c"}},
        Case{"a\tb", mode_paths_only, {"a\tb"}},
        Case{"a-b", mode_paths_only, {"a-b"}},
        Case{"-install", mode_install, {}},
        Case{"-s", mode_settings, {}},
        Case{"-U", mode_uninstall, {}},
        Case{"-t", mode_settings_elevated, {}},
        Case{"-J", mode_install_elevated, {}},
        Case{"-v", mode_uninstall_elevated, {}},
        Case{"-M", mode_register_menu_elevated, {}},
        Case{"-n", mode_unregister_menu_elevated, {}},
        Case{"-c a a", mode_encrypt, {"a", "a"}},
        Case{"x ", mode_paths_only, {"x"}},
        Case{"\"a\" ", mode_paths_only, {"a"}},
        Case{"\"a\"  \"b\"", mode_paths_only, {"a", "b"}}));

// What WinMain's argument string was: the whole line without the program.
TEST(CommandLine, ProgramNameIsSkipped) {
    const struct {
        const char* line;
        const char* arguments;
    } cases[] = {
        {"korvane.exe -c x", "-c x"},
        {"\"C:\\Program Files\\k.exe\" -d \"a b.cry\"", "-d \"a b.cry\""},
        {"\"C:\\\xe6\x97\xa5 \xe6\x9c\xac\\k.exe\"\t  -c \xc3\xa9", "-c \xc3\xa9"},
        {"C:\\a\"b c\"d.exe -s", "-s"},  // quotes inside the name keep its spaces
        {"k.exe", ""},
        {"k.exe   ", ""},
        {"\"unclosed -c x", ""},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_STREQ(skip_program_name(c.line), c.arguments) << c.line;
    EXPECT_EQ(skip_program_name(nullptr), nullptr);
}

TEST(CommandLine, ProcessWideListReceivesPaths) {
    input_list().clear();
    EXPECT_EQ(parse_command_line("-c p", input_list()), mode_encrypt);
    ASSERT_EQ(input_list().count(), 1);
    EXPECT_STREQ(input_list().at(0), "p");
    input_list().clear();
}

}  // namespace
}  // namespace korvane
