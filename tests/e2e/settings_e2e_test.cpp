// The settings dialog as a user meets it: korvane.exe -s changes the
// destination and confirms, and the next encryption run writes there.
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>

#include "e2e_support.h"
#include "platform/win32/wide.h"
#include "resources/resource_ids.h"
#include "unit/temp_folder.h"

namespace korvane {
namespace {

using test::ProductProcess;

// The page of the settings dialog that has the control (the pages reuse
// control ids, so the encryption page is the one with its name group).
struct PageSearch {
    int control_id;
    HWND found;
};

BOOL CALLBACK match_page(HWND child, LPARAM context) {
    auto* search = reinterpret_cast<PageSearch*>(context);
    char name[16] = {};
    GetClassNameA(child, name, sizeof name);
    if (lstrcmpA(name, "#32770") != 0 || !GetDlgItem(child, search->control_id)) return TRUE;
    search->found = child;
    return FALSE;
}

HWND page_with(HWND dialog, int control_id) {
    PageSearch search{control_id, nullptr};
    EnumChildWindows(dialog, match_page, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string ini_value(const std::string& ini, const char* key) {
    char value[MAX_PATH] = {};
    GetPrivateProfileStringA("default", key, "(missing)", value, sizeof value, ini.c_str());
    return value;
}

// The user's own file, or the one beside the program in portable mode; either
// is written by the dialog's own instance, without elevation.
TEST(SettingsEndToEnd, ChosenFolderIsSavedWhereTheModeSaysAndUsedByTheNextRun) {
    PWSTR raw = nullptr;
    ASSERT_EQ(SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &raw), S_OK);
    const std::string own_folder = win::narrow(raw) + "\\Korvane File";
    CoTaskMemFree(raw);
    const std::string own_ini = own_folder + "\\korvane.ini";
    // Other tests run the program with the defaults: this one leaves no file of its own.
    ASSERT_EQ(GetFileAttributesA(own_ini.c_str()), INVALID_FILE_ATTRIBUTES) << own_ini;

    for (const bool portable : {false, true}) {
        SCOPED_TRACE(portable ? "portable" : "per user");
        test::TempFolder temp;
        const std::string app = temp / "app", out = temp / "chosen out", source = temp / "note.txt";
        ASSERT_TRUE(CreateDirectoryA(app.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA(out.c_str(), nullptr));
        const std::string exe = app + "\\korvane.exe", beside = app + "\\korvane.ini";
        ASSERT_TRUE(CopyFileA(test::product_path().c_str(), exe.c_str(), FALSE))
            << test::product_path();
        ASSERT_TRUE(test::write_file(source, "settings end to end"));
        if (portable) {
            ASSERT_TRUE(test::write_file(beside, "[default]\r\n"));
        }
        const std::string ini = portable ? beside : own_ini;

        {
            ProductProcess settings(exe, "-s");
            ASSERT_TRUE(settings.started());
            const HWND dialog = settings.wait_for_window("Korvane File");
            ASSERT_NE(dialog, nullptr);
            const HWND page = page_with(dialog, IDC_NAME_SELECT);
            ASSERT_NE(page, nullptr);
            test::press_button(page, IDC_DEST_FOLDER);
            test::set_control_text(page, IDC_FOLDER_EDIT, out);
            test::press_button(dialog, IDOK);
            EXPECT_EQ(settings.wait_for_exit(30000), 0);
        }
        const struct {
            const char* key;
            std::string value;
        } expected[] = {
            {"encrypt_path", "3"}, {"user_defined_encrypt_path", out}, {"encrypt_file", "0"},
            {"decrypt_path", "0"}, {"user_defined_decrypt_path", ""},  {"compression_level", "6"},
        };
        for (const auto& e : expected) EXPECT_EQ(ini_value(ini, e.key), e.value) << e.key;
        // Only the one file: no INI appears beside an installed program, and
        // a portable copy leaves the user's profile alone.
        EXPECT_EQ(GetFileAttributesA((portable ? own_ini : beside).c_str()),
                  INVALID_FILE_ATTRIBUTES);

        ProductProcess lock(exe, "-c \"" + source + "\"");
        ASSERT_TRUE(lock.started());
        const HWND dialog = lock.wait_for_main_window();
        ASSERT_NE(dialog, nullptr);
        test::set_control_text(dialog, IDC_PASSWORD, "e2e password");
        test::set_control_text(dialog, IDC_CONFIRM_PASSWORD, "e2e password");
        test::press_button(dialog, IDC_START);
        const HWND box = lock.wait_for_message();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(test::message_box_text(box), "Encryption has completed successfully.\n" + out +
                                                   "\\note.cry\n\nShow it in Explorer?");
        PostMessageA(box, WM_COMMAND, IDNO, 0);
        EXPECT_EQ(lock.wait_for_exit(30000), 0);
        DeleteFileA(own_ini.c_str());
        RemoveDirectoryA(own_folder.c_str());
        const DWORD attributes = GetFileAttributesA((out + "\\note.cry").c_str());
        ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    }
}

}  // namespace
}  // namespace korvane
