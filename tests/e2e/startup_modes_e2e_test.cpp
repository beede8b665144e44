// Each start-up switch reaches its dialog, and a dialog run's exit code is
// the value the dialog ended with. Settings are the user's own: -s opens its
// dialog in the first instance, never an elevated second one.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "e2e_support.h"
#include "resources/resource_ids.h"
#include "platform/win32/scoped_win.h"
#include "unit/temp_folder.h"

namespace korvane {
namespace {

using test::ProductProcess;

struct ProgramWindow {
    std::string executable;
    HWND found;
    DWORD process;
};

// Windows of any instance of this copy of the program: the elevated second
// instance is not our child, but it runs the same file.
BOOL CALLBACK match_program(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<ProgramWindow*>(context);
    char caption[64] = {};
    GetWindowTextA(window, caption, sizeof caption);
    if (!IsWindowVisible(window) || lstrcmpA(caption, "Korvane File") != 0) return TRUE;
    DWORD process_id = 0;
    GetWindowThreadProcessId(window, &process_id);
    const win::ScopedHandle process(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
    if (!process) return TRUE;
    char image[MAX_PATH] = {};
    DWORD size = sizeof image;
    if (!QueryFullProcessImageNameA(process.get(), 0, image, &size) ||
        lstrcmpiA(image, search->executable.c_str()) != 0)
        return TRUE;
    search->found = window;
    search->process = process_id;
    return FALSE;
}

ProgramWindow wait_for_program_window(const std::string& executable, DWORD timeout_ms) {
    const DWORD start = GetTickCount();
    ProgramWindow search{executable, nullptr, 0};
    while (GetTickCount() - start < timeout_ms) {
        EnumWindows(match_program, reinterpret_cast<LPARAM>(&search));
        if (search.found) break;
        Sleep(50);
    }
    return search;
}

TEST(StartupModesEndToEnd, EachSwitchOpensItsDialogAndEndsWithItsResult) {
    test::TempFolder temp;
    const std::string exe = temp / "korvane.exe";
    ASSERT_TRUE(CopyFileA(test::product_path().c_str(), exe.c_str(), FALSE))
        << test::product_path();
    const char* drop_prompt = "Select the file for Encryption /Decryption";
    const struct Case {
        std::string arguments;
        bool settings;  // else the lock dialog, with this heading
        const char* heading;
    } cases[] = {
        {"-t", true, nullptr},
        {"-s", true, nullptr},
        {"", false, drop_prompt},
        {"-c", false, "File Encryption"},
        {"-d", false, "File Decryption"},
        // A path without a switch: the drop prompt, with the list emptied.
        {"\"" + (temp / "some file.txt") + "\"", false, drop_prompt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("arguments: " + c.arguments);
        ProductProcess product(exe, c.arguments);
        ASSERT_TRUE(product.started());
        const ProgramWindow window = wait_for_program_window(exe, 30000);
        ASSERT_NE(window.found, nullptr);
        EXPECT_EQ(GetDlgItem(window.found, IDC_SETTINGS_TABS) != nullptr, c.settings);
        if (c.heading) {
            EXPECT_EQ(test::control_text(window.found, IDC_HEADING), c.heading);
        }
        // The window is the started instance's own, never an elevated second one's.
        EXPECT_EQ(product.wait_for_window("Korvane File", 0), window.found);
        PostMessageA(window.found, WM_SYSCOMMAND, SC_CLOSE, 0);
        EXPECT_EQ(product.wait_for_exit(30000), 0);
    }
}

}  // namespace
}  // namespace korvane
