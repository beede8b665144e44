// Passwords are single-byte text: a double-byte character typed into the
// encryption fields empties that field at once, and Start stays disabled.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/input_list.h"
#include "ops/lock_dialog.h"
#include "resources/resource_ids.h"
#include "win/gui_support.h"

namespace korvane {
namespace {

TEST(LockDialogCp932, DoubleByteCharacterEmptiesThePasswordField) {
    ASSERT_EQ(GetACP(), 932u);
    input_list().clear();
    input_list().add("C:\\file.txt");
    const std::string with_hyo = "ab\x95\x5C";  // 表
    HWND dialog = nullptr;
    std::string password_after, confirmation_after;
    bool start_enabled = true;
    test::Script script;
    script.wait_for_window("Korvane File", &dialog)
        .then([&] {
            SetDlgItemTextA(dialog, IDC_CONFIRM_PASSWORD, with_hyo.c_str());
            SetDlgItemTextA(dialog, IDC_PASSWORD, with_hyo.c_str());
            password_after = test::window_text(GetDlgItem(dialog, IDC_PASSWORD));
            confirmation_after = test::window_text(GetDlgItem(dialog, IDC_CONFIRM_PASSWORD));
            start_enabled = IsWindowEnabled(GetDlgItem(dialog, IDC_START)) != FALSE;
            return true;
        })
        .then([&] {
            PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
            return true;
        });
    script.start();
    EXPECT_EQ(run_lock_dialog(lock_encrypt, input_list(), Settings{}), 0);
    EXPECT_TRUE(script.finished());
    EXPECT_EQ(password_after, "");
    EXPECT_EQ(confirmation_after, "");
    EXPECT_FALSE(start_enabled);
    input_list().clear();
}

}  // namespace
}  // namespace korvane
