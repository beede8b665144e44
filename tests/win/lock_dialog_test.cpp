// The lock dialog in-process: drops and the direction they choose, the
// start modes, the password rules. Driven from a script while the test
// thread runs the dialog's modal loop.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "app/input_list.h"
#include "gui_support.h"
#include "ops/lock_dialog.h"
#include "platform/win32/wide.h"
#include "resources/resource_ids.h"
#include "unit/temp_folder.h"
#include "unit/test_support.h"

namespace korvane {
namespace {

using test::Script;

std::string text_of(HWND dialog, int id) {
    return test::window_text(GetDlgItem(dialog, id));
}
bool visible(HWND dialog, int id) {
    return IsWindowVisible(GetDlgItem(dialog, id)) != FALSE;
}
bool enabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

void type(HWND dialog, int id, const std::string& text) {
    // SetDlgItemText raises the edit's change notification, as typing does.
    SetDlgItemTextA(dialog, id, text.c_str());
}

// The message text of a message box (its static control).
std::string box_text(HWND box) {
    return text_of(box, test::message_box_text_id);
}

// The dialog and its message boxes share the program's caption.
Script& wait_for_dialog(Script& script, HWND* dialog) {
    return script.wait_for_window("Korvane File", IDC_HEADING, dialog);
}
Script& wait_for_box(Script& script, HWND* box) {
    return script.wait_for_window("Korvane File", test::message_box_text_id, box);
}

LONG style_of(HWND dialog, int id) {
    return GetWindowLongW(GetDlgItem(dialog, id), GWL_STYLE);
}
int focused_id(HWND dialog) {
    const HWND focus = GetFocus();
    return focus && IsChild(dialog, focus) ? GetDlgCtrlID(focus) : 0;
}

class LockDialogTest : public testing::Test {
  protected:
    void SetUp() override { input_list().clear(); }
    void TearDown() override { input_list().clear(); }

    // Runs the dialog with the script; the script must end the dialog.
    INT_PTR run(LockMode start_mode, Script& script) {
        script.start();
        const INT_PTR result = run_lock_dialog(start_mode, input_list(), settings, links);
        EXPECT_TRUE(script.finished()) << "the script did not run to its end";
        EXPECT_FALSE(script.timed_out());
        return result;
    }
    HWND dialog = nullptr;
    HWND box = nullptr;
    Settings settings;
    LockDialogLinks links;
};

Script::Step close_dialog(const HWND* dialog) {
    return [dialog] {
        PostMessageA(*dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        return true;
    };
}

TEST_F(LockDialogTest, TwoArchivesDroppedTogetherAreDecryptedTogether) {
    Script script;
    std::string heading, summary;
    HWND stray_box = nullptr;
    wait_for_dialog(script, &dialog)
        .then([&] {
            EXPECT_EQ(text_of(dialog, IDC_HEADING), "Select the file for Encryption /Decryption");
            SendMessageA(dialog, WM_DROPFILES,
                         reinterpret_cast<WPARAM>(test::make_drop({"C:\\a.cry", "C:\\b.CRY"})), 0);
            heading = text_of(dialog, IDC_HEADING);
            summary = text_of(dialog, IDC_DROP_SUMMARY);
            return true;
        })
        .pause(200)
        .then([&] {
            stray_box = test::find_thread_window("Korvane File", test::message_box_text_id);
            return true;
        })
        .then(close_dialog(&dialog));
    EXPECT_EQ(run(lock_undetermined, script), 0);
    EXPECT_EQ(heading, "Decryption");
    EXPECT_EQ(summary, "a.cry and 1 more item, 0 bytes");  // neither exists
    EXPECT_FALSE(stray_box);
    EXPECT_EQ(input_list().count(), 2);
}

TEST_F(LockDialogTest, DroppedNamesChooseTheDirection) {
    const struct {
        std::vector<std::string> paths;
        LockMode start;
        const char* heading;
        bool confirmation_shown;
    } cases[] = {
        {{"C:\\a.cry", "C:\\b.txt"}, lock_undetermined, "Encryption", true},
        {{"C:\\A.CRY"}, lock_undetermined, "Decryption", false},  // in any case
        {{"C:\\a.cry", "C:\\b.cry"}, lock_undetermined, "Decryption", false},
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
        int focus = 0;
        wait_for_dialog(script, &dialog)
            .then([&] {
                prompt = text_of(dialog, IDC_INSTRUCTION);
                SendMessageA(dialog, WM_DROPFILES,
                             reinterpret_cast<WPARAM>(test::make_drop(c.paths)), 0);
                heading = text_of(dialog, IDC_HEADING);
                confirmation = visible(dialog, IDC_CONFIRM_PASSWORD);
                start_disabled = visible(dialog, IDC_START) && !enabled(dialog, IDC_START);
                focus = focused_id(dialog);
                return true;
            })
            .then(close_dialog(&dialog));
        EXPECT_EQ(run(c.start, script), 0);
        EXPECT_EQ(prompt, "Please drag and drop the target file here.") << c.paths[0];
        EXPECT_EQ(heading, c.heading) << c.paths[0];
        EXPECT_EQ(confirmation, c.confirmation_shown) << c.paths[0];
        EXPECT_TRUE(start_disabled) << c.paths[0];
        // Keys typed at once after the drop go into the password.
        EXPECT_EQ(focus, c.confirmation_shown ? IDC_PASSWORD : IDC_DECRYPT_PASSWORD) << c.paths[0];
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
    bool masked_shown = false, encryption_hidden = false;
    int focus = 0;
    std::vector<int> unmasked;
    wait_for_dialog(script, &dialog)
        .then([&] {
            heading = text_of(dialog, IDC_HEADING);
            instruction = text_of(dialog, IDC_INSTRUCTION);
            masked_shown = visible(dialog, IDC_DECRYPT_PASSWORD);
            encryption_hidden =
                !visible(dialog, IDC_PASSWORD) && !visible(dialog, IDC_SHOW_PASSWORD);
            focus = focused_id(dialog);
            for (int id : {IDC_PASSWORD, IDC_CONFIRM_PASSWORD, IDC_DECRYPT_PASSWORD})
                if (!(style_of(dialog, id) & ES_PASSWORD)) unmasked.push_back(id);
            return true;
        })
        .then(close_dialog(&dialog));
    EXPECT_EQ(run(lock_decrypt, script), 0);
    EXPECT_EQ(heading, "Decryption");
    EXPECT_EQ(instruction, "Input the password and click Start.");
    EXPECT_TRUE(masked_shown);
    EXPECT_TRUE(encryption_hidden);
    EXPECT_EQ(focus, IDC_DECRYPT_PASSWORD);
    EXPECT_TRUE(unmasked.empty());  // every field masked, so the system warns of Caps Lock
}

TEST_F(LockDialogTest, NeutralStartDiscardsCommandLinePaths) {
    input_list().add("C:\\given.txt");
    Script script;
    wait_for_dialog(script, &dialog).then(close_dialog(&dialog));
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
        {"secret", "secret", true},   {"Secret", "secret", false},  // differ only in case
        {"secret", "", false},        {"", "", false},
        {"secret", "secret ", false},
    };
    Script script;
    std::vector<bool> states;
    wait_for_dialog(script, &dialog)
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
    std::string error, note;
    bool still_open = false;
    wait_for_dialog(script, &dialog)
        .then([&] {
            type(dialog, IDC_PASSWORD, long_password);
            type(dialog, IDC_CONFIRM_PASSWORD, long_password);
            PostMessageA(dialog, WM_COMMAND, IDC_START, 0);
            return true;
        })
        .then([&] {
            note = text_of(dialog, IDC_PASSWORD_NOTE);
            return true;
        });
    wait_for_box(script, &box)
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
    EXPECT_EQ(note, "A password has at most 63 characters.");
    EXPECT_TRUE(still_open);
}

TEST_F(LockDialogTest, PasswordNotesAndCharactersThePasswordCannotHold) {
    input_list().add("C:\\file.txt");
    const struct {
        const wchar_t* password;
        const wchar_t* confirmation;
        const wchar_t* kept;  // in the password field
        const char* note;
    } cases[] = {
        {L"secret", L"", L"secret", ""},
        {L"secret", L"secreX", L"secret", "The passwords do not match"},
        {L"secret", L"secret", L"secret", ""},
        {L"pa\u0444ss", L"", L"pass",
         "That character cannot be part of a password on this "
         "system: it was not typed."},
        {L"a\U0001F600b", L"ab", L"ab",
         "That character cannot be part of a password on this "
         "system: it was not typed."},
        {L"ppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppp", L"",
         L"ppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppppp",
         "A password has at most 63 characters."},
    };
    Script script;
    std::vector<std::wstring> kept;
    std::vector<std::string> notes;
    wchar_t mask_before = 0, shown_password = 1, shown_confirmation = 1, decrypt_mask = 0,
            mask_after = 0;
    wait_for_dialog(script, &dialog)
        .then([&] {
            for (const auto& c : cases) {
                // The confirmation first: the note is the password's, as it ends.
                SetDlgItemTextW(dialog, IDC_CONFIRM_PASSWORD, c.confirmation);
                SetDlgItemTextW(dialog, IDC_PASSWORD, c.password);
                wchar_t text[128] = {};
                GetDlgItemTextW(dialog, IDC_PASSWORD, text, 128);
                kept.emplace_back(text);
                notes.push_back(text_of(dialog, IDC_PASSWORD_NOTE));
            }
            const auto mask = [&](int id) {
                return static_cast<wchar_t>(
                    SendDlgItemMessageW(dialog, id, EM_GETPASSWORDCHAR, 0, 0));
            };
            mask_before = mask(IDC_PASSWORD);
            SendDlgItemMessageW(dialog, IDC_SHOW_PASSWORD, BM_CLICK, 0, 0);
            shown_password = mask(IDC_PASSWORD);
            shown_confirmation = mask(IDC_CONFIRM_PASSWORD);
            decrypt_mask = mask(IDC_DECRYPT_PASSWORD);
            SendDlgItemMessageW(dialog, IDC_SHOW_PASSWORD, BM_CLICK, 0, 0);
            mask_after = mask(IDC_CONFIRM_PASSWORD);
            return true;
        })
        .then(close_dialog(&dialog));
    EXPECT_EQ(run(lock_encrypt, script), 0);
    ASSERT_EQ(kept.size(), std::size(cases));
    for (std::size_t i = 0; i < kept.size(); ++i) {
        EXPECT_EQ(kept[i], cases[i].kept) << i;
        EXPECT_EQ(notes[i], cases[i].note) << i;
    }
    EXPECT_NE(mask_before, 0);
    EXPECT_EQ(shown_password, 0);  // "Show password" reveals the pair
    EXPECT_EQ(shown_confirmation, 0);
    EXPECT_EQ(decrypt_mask, mask_before);
    EXPECT_EQ(mask_after, mask_before);
}

TEST_F(LockDialogTest, EnterStartsOnlyWhenStartIsEnabledAndEscapeCloses) {
    input_list().add("C:\\file.txt");
    Script script;
    bool open_after_enter = false;
    HWND stray_box = nullptr;
    wait_for_dialog(script, &dialog)
        .then([&] {
            type(dialog, IDC_PASSWORD, "secret");
            test::press_key(dialog, VK_RETURN);  // Start is disabled: nothing happens
            return true;
        })
        .pause(300)
        .then([&] {
            open_after_enter = IsWindowVisible(dialog) != FALSE;
            stray_box = test::find_thread_window("Korvane File", test::message_box_text_id);
            test::press_key(dialog, VK_ESCAPE);  // the dialog ends, and with it run()
            return true;
        });
    EXPECT_EQ(run(lock_encrypt, script), 0);
    EXPECT_TRUE(open_after_enter);
    EXPECT_FALSE(stray_box);
}

// Every label and button of the window has a mnemonic, and no two share one.
TEST_F(LockDialogTest, MnemonicsAreUnique) {
    Script script;
    std::vector<std::string> missing;
    std::string letters;
    wait_for_dialog(script, &dialog)
        .then([&] {
            for (HWND child = GetWindow(dialog, GW_CHILD); child;
                 child = GetWindow(child, GW_HWNDNEXT)) {
                char kind[32] = {};
                GetClassNameA(child, kind, sizeof kind);
                const LONG style = GetWindowLongW(child, GWL_STYLE);
                const std::string text = test::window_text(child);
                const bool button = lstrcmpiA(kind, "Button") == 0;
                // Statics that show names or messages take no mnemonic.
                const bool label = lstrcmpiA(kind, "Static") == 0 && !(style & SS_NOPREFIX);
                if (!button && !label) continue;
                const std::size_t at = text.find('&');
                if (at == std::string::npos || at + 1 >= text.size()) {
                    missing.push_back(text);
                    continue;
                }
                letters +=
                    static_cast<char>(std::tolower(static_cast<unsigned char>(text[at + 1])));
            }
            return true;
        })
        .then(close_dialog(&dialog));
    EXPECT_EQ(run(lock_undetermined, script), 0);
    EXPECT_TRUE(missing.empty()) << missing.front();
    EXPECT_EQ(letters.size(), 5u);  // three labels, a check box and Start
    std::string sorted = letters;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << letters;
}

// The drop line names the first item, counts the others and their size; the
// line below it is the path the job will write: the base name whole.
TEST_F(LockDialogTest, DropLineAndOutputLine) {
    test::TempFolder temp;
    ASSERT_TRUE(CreateDirectoryA((temp / "Photos").c_str(), nullptr));
    ASSERT_TRUE(test::write_file(temp / "Photos/a.jpg", std::string(1000, 'a')));
    ASSERT_TRUE(test::write_file(temp / "Photos/b.jpg", std::string(1500, 'b')));
    ASSERT_TRUE(test::write_file(temp / "Quarterly report.docx", std::string(500, 'q')));
    ASSERT_TRUE(test::write_file(temp / "notes.txt", std::string(48, 'n')));
    const struct {
        std::vector<std::string> dropped;
        std::int32_t destination;
        std::string summary;
        std::string output;
    } cases[] = {
        {{temp / "Photos"},
         destination_source_folder,
         "Photos, 2.4 KB",
         "To: " + (temp / "Photos.cry")},
        {{temp / "Quarterly report.docx", temp / "Photos", temp / "notes.txt"},
         destination_source_folder,
         "Quarterly report.docx and 2 more items, 2.9 KB",
         "To: " + (temp / "Quarterly report.cry")},
        {{temp / "notes.txt"},
         destination_ask,
         "notes.txt, 48 bytes",
         "The destination is asked for when Start is pressed."},
    };
    for (const auto& c : cases) {
        settings.encrypt_path = c.destination;
        Script script;
        std::string summary, output;
        LONG output_style = 0;
        wait_for_dialog(script, &dialog)
            .then([&] {
                SendMessageA(dialog, WM_DROPFILES,
                             reinterpret_cast<WPARAM>(test::make_drop(c.dropped)), 0);
                summary = text_of(dialog, IDC_DROP_SUMMARY);
                output = test::window_text(GetDlgItem(dialog, IDC_OUTPUT_LINE));
                output_style = style_of(dialog, IDC_OUTPUT_LINE);
                return true;
            })
            .then(close_dialog(&dialog));
        EXPECT_EQ(run(lock_undetermined, script), 0);
        EXPECT_EQ(summary, c.summary);
        EXPECT_EQ(output, c.output);
        EXPECT_EQ(output_style & SS_ELLIPSISMASK, SS_PATHELLIPSIS);  // shortened in the middle
        input_list().clear();
    }
}

std::vector<std::string> shown_in_folder;
bool record_shown(const std::vector<std::string>& paths) {
    shown_in_folder = paths;
    return true;
}

// A job run from the window: the message names the archive, and Yes shows it
// in its folder through the seam.
TEST_F(LockDialogTest, SuccessNamesTheArchiveAndOffersItsFolder) {
    test::TempFolder temp;
    const std::string input = temp / "Quarterly report.docx";
    ASSERT_TRUE(test::write_file(input, "figures"));
    input_list().add(input.c_str());
    settings.encrypt_path = destination_source_folder;
    links.show_in_folder = record_shown;
    shown_in_folder.clear();
    Script script;
    std::string message;
    UINT icon = 0;
    wait_for_dialog(script, &dialog).then([&] {
        type(dialog, IDC_PASSWORD, "secret");
        type(dialog, IDC_CONFIRM_PASSWORD, "secret");
        PostMessageA(dialog, WM_COMMAND, IDC_START, 0);
        return true;
    });
    wait_for_box(script, &box).then([&] {
        message = box_text(box);
        icon = GetDlgItem(box, IDYES) && GetDlgItem(box, IDNO) ? 1 : 0;
        PostMessageA(box, WM_COMMAND, IDYES, 0);  // success ends the dialog
        return true;
    });
    EXPECT_EQ(run(lock_encrypt, script), 0);
    const std::string archive = temp / "Quarterly report.cry";
    EXPECT_EQ(message,
              "Encryption has completed successfully.\n" + archive + "\n\nShow it in Explorer?");
    EXPECT_EQ(icon, 1u);  // Yes and No
    EXPECT_EQ(shown_in_folder, std::vector<std::string>{archive});
    EXPECT_NE(GetFileAttributesW(win::widen(archive).c_str()), INVALID_FILE_ATTRIBUTES);
}

// A failed job leaves the window for another try, and the taskbar button
// shows the failure only while its message is up.
TEST_F(LockDialogTest, AFailureKeepsTheWindowAndLeavesThePlainTaskbarButton) {
    test::TempFolder temp;
    const std::string input = temp / "gone.txt";  // named, never made
    input_list().add(input.c_str());
    settings.encrypt_path = destination_source_folder;
    test::RecordingTaskbar taskbar;
    Script script;
    std::string message;
    bool kept = false;
    std::size_t calls_at_message = 0;
    wait_for_dialog(script, &dialog).then([&] {
        type(dialog, IDC_PASSWORD, "secret");
        type(dialog, IDC_CONFIRM_PASSWORD, "secret");
        PostMessageA(dialog, WM_COMMAND, IDC_START, 0);
        return true;
    });
    wait_for_box(script, &box)
        .then([&] {
            message = box_text(box);
            calls_at_message = taskbar.calls.size();
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            return true;
        })
        .pause(300)
        .then([&] {
            kept = IsWindow(dialog) && visible(dialog, IDC_START);
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
            return true;
        });
    EXPECT_EQ(run(lock_encrypt, script), 0);
    EXPECT_EQ(message.rfind("Encryption has failed.\n", 0), 0u) << message;
    EXPECT_NE(message.find(input), std::string::npos) << message;
    EXPECT_TRUE(kept);
    ASSERT_GT(calls_at_message, 0u);
    EXPECT_EQ(taskbar.calls[calls_at_message - 1].state, TaskbarState::error);
    ASSERT_NE(taskbar.last(), nullptr);
    EXPECT_EQ(taskbar.last()->state, TaskbarState::none);
    EXPECT_EQ(taskbar.last()->window, dialog);
    EXPECT_EQ(GetFileAttributesW(win::widen(temp / "gone.cry").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace korvane
