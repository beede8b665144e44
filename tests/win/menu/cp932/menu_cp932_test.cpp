// Names with 表 (0x95 0x5C) and ソ (0x83 0x5C), whose second byte is the
// backslash byte, reach korvane.exe's parser intact through the quoted line.
#include <windows.h>

#include "app/command_line.h"
#include "app/input_list.h"
#include "win/menu/menu_support.h"

namespace korvane::menu_test {
namespace {

TEST(MenuCp932, DoubleByteNamesSurviveQuoting) {
    ASSERT_EQ(GetACP(), 932u);
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    {
        MenuDll dll;
        ASSERT_TRUE(dll.ready());
        const std::vector<std::wstring> paths = {L"C:\\\u8868\\\u30bd \u30d5\u30a1\u30a4\u30eb.txt",
                                                 L"D:\\\u8868 \u8868\\", L"C:\\plain"};
        const std::vector<std::string> expected = {
            "C:\\\x95\x5C\\\x83\x5C \x83t\x83@\x83" "C\x83\x8B.txt", "D:\\\x95\x5C \x95\x5C\\",
            "C:\\plain"};
        Selected handler(dll, paths);
        ASSERT_EQ(handler.initialised, S_OK);
        CMINVOKECOMMANDINFO info = invoke_info();
        info.lpVerb = "encrypt";
        ASSERT_EQ(handler.menu->InvokeCommand(&info), S_OK);
        ASSERT_EQ(dll.recorder.lines.size(), 1u);

        // What korvane.exe would read with GetCommandLineA, past its own name.
        const std::string line = ansi(dll.recorder.lines[0]);
        const std::string exe = ansi(dll.recorder.applications[0]);
        ASSERT_EQ(line.rfind("\"" + exe + "\" ", 0), 0u);
        InputList inputs;
        EXPECT_EQ(parse_command_line(line.c_str() + exe.size() + 3, inputs), mode_encrypt);
        ASSERT_EQ(inputs.count(), 3);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(std::string(inputs.at(i)), expected[i]) << i;
    }
    CoUninitialize();
}

}  // namespace
}  // namespace korvane::menu_test
