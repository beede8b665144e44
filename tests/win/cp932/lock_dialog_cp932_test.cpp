// Passwords are single-byte text: a double-byte character typed into the
// encryption fields is not taken, the rest stays, and a note says why.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/input_list.h"
#include "ops/lock_dialog.h"
#include "resources/resource_ids.h"
#include "win/gui_support.h"

namespace korvane {
namespace {

TEST(LockDialogCp932, DoubleByteCharacterIsNotTypedAndTheRestStays) {
    ASSERT_EQ(GetACP(), 932u);
    input_list().clear();
    input_list().add("C:\\file.txt");
    const std::string with_hyo = "ab\x95\x5C";  // 表
    HWND dialog = nullptr;
    std::string password_after, confirmation_after, note;
    bool start_enabled = false;
    test::Script script;
    script.wait_for_window("Korvane File", IDC_HEADING, &dialog)
        .then([&] {
            SetDlgItemTextA(dialog, IDC_CONFIRM_PASSWORD, with_hyo.c_str());
            SetDlgItemTextA(dialog, IDC_PASSWORD, with_hyo.c_str());
            password_after = test::window_text(GetDlgItem(dialog, IDC_PASSWORD));
            confirmation_after = test::window_text(GetDlgItem(dialog, IDC_CONFIRM_PASSWORD));
            start_enabled = IsWindowEnabled(GetDlgItem(dialog, IDC_START)) != FALSE;
            note = test::window_text(GetDlgItem(dialog, IDC_PASSWORD_NOTE));
            return true;
        })
        .then([&] {
            PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
            return true;
        });
    script.start();
    EXPECT_EQ(run_lock_dialog(lock_encrypt, input_list(), Settings{}), 0);
    EXPECT_TRUE(script.finished());
    EXPECT_EQ(password_after, "ab");
    EXPECT_EQ(confirmation_after, "ab");
    EXPECT_TRUE(start_enabled);  // the two agree on what they kept
    EXPECT_EQ(note,
              "That character cannot be part of a password on this system: it was not typed.");
    input_list().clear();
}

}  // namespace
}  // namespace korvane
