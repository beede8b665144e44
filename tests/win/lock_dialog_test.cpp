// The lock dialog in-process: drops and the direction they choose, the
// start modes, the password rules. Driven from a script while the test
// thread runs the dialog's modal loop.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/input_list.h"
#include "gui_support.h"
#include "ops/lock_dialog.h"
#include "resources/resource_ids.h"

namespace korvane {
namespace {

using test::Script;

std::string text_of(HWND dialog, int id) { return test::window_text(GetDlgItem(dialog, id)); }
bool visible(HWND dialog, int id) { return IsWindowVisible(GetDlgItem(dialog, id)) != FALSE; }
bool enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }

void type(HWND dialog, int id, const std::string& text) {
    // SetDlgItemText raises the edit's change notification, as typing does.
    SetDlgItemTextA(dialog, id, text.c_str());
}

// The message text of a message box (its static control).
std::string box_text(HWND box) { return text_of(box, 0xFFFF); }

class LockDialogTest : public testing::Test {
protected:
    void SetUp() override { input_list().clear(); }
    void TearDown() override { input_list().clear(); }

    // Runs the dialog with the script; the script must end the dialog.
    INT_PTR run(LockMode start_mode, Script& script) {
        script.start();
        const INT_PTR result = run_lock_dialog(start_mode, input_list(), settings);
        EXPECT_TRUE(script.finished()) << "the script did not run to its end";
        EXPECT_FALSE(script.timed_out());
        return result;
    }
    HWND dialog = nullptr;
    HWND box = nullptr;
    const Settings settings;
};

Script::Step close_dialog(const HWND* dialog) {
    return [dialog] {
        PostMessageA(*dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        return true;
    };
}

TEST_F(LockDialogTest, TwoArchivesDroppedTogetherAreRefusedAndDecryptionStays) {
    Script script;
    std::string heading_after_error, heading_after_drop, error;
    bool list_emptied = false;
    script.wait_for_window("Korvane File", &dialog)
        .then([&] {
            EXPECT_EQ(text_of(dialog, IDC_HEADING), "Select the file for Encryption /Decryption");
            PostMessageA(dialog, WM_DROPFILES,
                         reinterpret_cast<WPARAM>(test::make_drop({"C:\\a.cry", "C:\\b.cry"})), 0);
            return true;
        })
        .wait_for_window("Error", &box)
        .then([&] {
            error = box_text(box);
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            return true;
        })
        .wait_until_gone(&box)
        .then([&] {
            heading_after_error = text_of(dialog, IDC_HEADING);
            list_emptied = input_list().count() == 0;
            SendMessageA(dialog, WM_DROPFILES, reinterpret_cast<WPARAM>(test::make_drop({"C:\\plain.txt"})), 0);
            heading_after_drop = text_of(dialog, IDC_HEADING);
            return true;
        })
        .then(close_dialog(&dialog));
    EXPECT_EQ(run(lock_undetermined, script), 0);
    EXPECT_EQ(error,
              "Multiple files cannot be decrypted at the same time.\n Drag and drop files one at a time.");
    EXPECT_EQ(heading_after_error, "File Decryption");
    EXPECT_TRUE(list_emptied);
    EXPECT_EQ(heading_after_drop, "Decryption");  // whatever the extension
}

TEST_F(LockDialogTest, DroppedNamesChooseTheDirection) {
    const struct {
        std::vector<std::string> paths;
        LockMode start;
        const char* heading;
        bool confirmation_shown;
    } cases[] = {
        {{"C:\\a.cry", "C:\\b.txt"}, lock_undetermined, "Encryption", true},
        {{"C:\\A.CRY"}, lock_undetermined, "Encryption", true},
        {{"C:\\dir.cry\\file"}, lock_undetermined, "Encryption", true},
        {{"C:\\one.cry"}, lock_undetermined, "Decryption", false},
        {{"C:\\one.cry"}, lock_encrypt, "Encryption", true},  // "-c" keeps encryption
        // Names outside the code page arrive whole.
        {{"C:\\\xe6\x97\xa5\xe6\x9c\xac.cry"}, lock_undetermined, "Decryption", false},
        {{"C:\\caf\xc3\xa9", "C:\\emoji\xf0\x9f\x98\x80.txt"},
         lock_undetermined,
         "Encryption",
         true},
    };
    for (const auto& c : cases) {
        Script script;
        std::string prompt, heading;
        bool confirmation = false, start_disabled = false;
        script.wait_for_window("Korvane File", &dialog)
            .then([&] {
                prompt = text_of(dialog, IDC_INSTRUCTION);
                SendMessageA(dialog, WM_DROPFILES, reinterpret_cast<WPARAM>(test::make_drop(c.paths)), 0);
                heading = text_of(dialog, IDC_HEADING);
                confirmation = visible(dialog, IDC_CONFIRM_PASSWORD);
                start_disabled = visible(dialog, IDC_START) && !enabled(dialog, IDC_START);
                return true;
            })
            .then(close_dialog(&dialog));
        EXPECT_EQ(run(c.start, script), 0);
        EXPECT_EQ(prompt, "Please drag and drop the target file here.") << c.paths[0];
        EXPECT_EQ(heading, c.heading) << c.paths[0];
        EXPECT_EQ(confirmation, c.confirmation_shown) << c.paths[0];
        EXPECT_TRUE(start_disabled) << c.paths[0];
        EXPECT_EQ(input_list().count(), static_cast<int>(c.paths.size()));
        std::vector<std::string> dropped;
        for (int i = 0; i < input_list().count(); ++i) dropped.emplace_back(input_list().at(i));
        EXPECT_EQ(dropped, c.paths);
        input_list().clear();
    }
}

TEST_F(LockDialogTest, DecryptSwitchWithAPathOpensThePasswordEntry) {
    input_list().add("C:\\archive.cry");
    Script script;
    std::string heading, instruction;
    bool masked_shown = false, clear_hidden = false;
    script.wait_for_window("Korvane File", &dialog)
        .then([&] {
            heading = text_of(dialog, IDC_HEADING);
            instruction = text_of(dialog, IDC_INSTRUCTION);
            masked_shown = visible(dialog, IDC_DECRYPT_PASSWORD);
            clear_hidden = !visible(dialog, IDC_PASSWORD);
            return true;
        })
        .then(close_dialog(&dialog));
    EXPECT_EQ(run(lock_decrypt, script), 0);
    EXPECT_EQ(heading, "Decryption");
    EXPECT_EQ(instruction, "Input the password and click Start.");
    EXPECT_TRUE(masked_shown);
    EXPECT_TRUE(clear_hidden);
}

TEST_F(LockDialogTest, NeutralStartDiscardsCommandLinePaths) {
    input_list().add("C:\\given.txt");
    Script script;
    script.wait_for_window("Korvane File", &dialog).then(close_dialog(&dialog));
    EXPECT_EQ(run(lock_undetermined, script), 0);
    EXPECT_EQ(input_list().count(), 0);
}

TEST_F(LockDialogTest, StartFollowsTheTwoPasswordFields) {
    input_list().add("C:\\file.txt");
    const struct {
        const char* password;
        const char* confirmation;
        bool start;
    } cases[] = {
        {"secret", "secret", true},
        {"Secret", "secret", false},  // differ only in case
        {"secret", "", false},
        {"", "", false},
        {"secret", "secret ", false},
    };
    Script script;
    std::vector<bool> states;
    script.wait_for_window("Korvane File", &dialog)
        .then([&] {
            for (const auto& c : cases) {
                type(dialog, IDC_PASSWORD, c.password);
                type(dialog, IDC_CONFIRM_PASSWORD, c.confirmation);
                states.push_back(enabled(dialog, IDC_START));
            }
            return true;
        })
        .then(close_dialog(&dialog));
    EXPECT_EQ(run(lock_encrypt, script), 0);
    ASSERT_EQ(states.size(), std::size(cases));
    for (std::size_t i = 0; i < states.size(); ++i)
        EXPECT_EQ(states[i], cases[i].start) << cases[i].password << " / " << cases[i].confirmation;
}

TEST_F(LockDialogTest, PasswordOf64CharactersIsRefused) {
    input_list().add("C:\\file.txt");
    const std::string long_password(64, 'p');
    Script script;
    std::string error;
    bool still_open = false;
    script.wait_for_window("Korvane File", &dialog)
        .then([&] {
            type(dialog, IDC_PASSWORD, long_password);
            type(dialog, IDC_CONFIRM_PASSWORD, long_password);
            PostMessageA(dialog, WM_COMMAND, IDC_START, 0);
            return true;
        })
        .wait_for_window("Error", &box)
        .then([&] {
            error = box_text(box);
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            return true;
        })
        .wait_until_gone(&box)
        .then([&] {
            still_open = IsWindow(dialog) && text_of(dialog, IDC_PASSWORD) == long_password;
            return true;
        })
        .then(close_dialog(&dialog));
    EXPECT_EQ(run(lock_encrypt, script), 0);
    EXPECT_EQ(error, "Input a password of within 63 characters.");
    EXPECT_TRUE(still_open);
}

}  // namespace
}  // namespace korvane
