// korvane.exe as a user meets it: started with a switch and a path, the
// password typed, Start pressed, the final message read, the files checked.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "e2e_support.h"
#include "engine/crypt_job.h"
#include "platform/platform.h"
#include "platform/win32/wide.h"
#include "resources/resource_ids.h"
#include "unit/temp_folder.h"

namespace korvane {
namespace {

using test::ProductProcess;

constexpr const char* password = "e2e password";

class LockDialogEndToEnd : public testing::Test {
  protected:
    void SetUp() override {
        // A copy of the program with its own INI: outputs go to test folders.
        app_ = temp_ / "app";
        enc_ = temp_ / "enc";
        dec_ = temp_ / "dec";
        for (const std::string& f : {app_, enc_, dec_})
            ASSERT_TRUE(CreateDirectoryA(f.c_str(), nullptr));
        exe_ = app_ + "\\korvane.exe";
        ASSERT_TRUE(CopyFileA(test::product_path().c_str(), exe_.c_str(), FALSE))
            << test::product_path();
        ASSERT_TRUE(
            test::write_file(app_ + "\\korvane.ini",
                             "[default]\r\nencrypt_path=3\r\nuser_defined_encrypt_path=" + enc_ +
                                 "\r\nencrypt_file=0\r\ndecrypt_path=3\r\n"
                                 "user_defined_decrypt_path=" +
                                 dec_ + "\r\n"));
        tree_ = temp_ / "Tree";
        ASSERT_TRUE(CreateDirectoryA(tree_.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA((tree_ + "\\sub").c_str(), nullptr));
        ASSERT_TRUE(test::write_file(tree_ + "\\a.txt", "alpha"));
        ASSERT_TRUE(test::write_file(tree_ + "\\sub\\b.txt", std::string(50000, 'b')));
        ASSERT_TRUE(
            platform::set_file_times((tree_ + "\\a.txt").c_str(), {2007, 3, 15, 10, 20, 30}));
        archive_ = enc_ + "\\Tree.cry";
    }

    // Runs one job from the dialog and returns the final message, declining
    // to open Explorer after a success. stayed_ tells whether the window
    // stayed after the message (it then is closed here); the program must
    // end with 0.
    std::string run_job(const std::string& arguments, bool encrypt, const std::string& pw,
                        bool by_enter = false) {
        return run_job_with(
            arguments,
            [&](HWND dialog) {
                if (encrypt) {
                    test::set_control_text(dialog, IDC_PASSWORD, pw);
                    test::set_control_text(dialog, IDC_CONFIRM_PASSWORD, pw);
                } else {
                    test::set_control_text(dialog, IDC_DECRYPT_PASSWORD, pw);
                }
            },
            by_enter);
    }
    // The same with the password typed as keys.
    std::string run_typed(const std::string& arguments, bool encrypt, const std::wstring& pw) {
        return run_job_with(arguments, [&](HWND dialog) {
            if (encrypt) {
                test::type_keys(dialog, IDC_PASSWORD, pw);
                test::type_keys(dialog, IDC_CONFIRM_PASSWORD, pw);
            } else {
                test::type_keys(dialog, IDC_DECRYPT_PASSWORD, pw);
            }
        });
    }
    template <typename Enter>
    std::string run_job_with(const std::string& arguments, Enter enter_password,
                             bool by_enter = false) {
        ProductProcess product(exe_, arguments);
        EXPECT_TRUE(product.started());
        const HWND dialog = product.wait_for_main_window();
        if (!dialog) return "no dialog";
        enter_password(dialog);
        if (by_enter)
            press_enter(dialog);
        else
            test::press_button(dialog, IDC_START);
        return final_message(product, dialog);
    }
    // Reads and dismisses the job's message: No to a success's offer.
    std::string final_message(ProductProcess& product, HWND dialog) {
        const HWND box = product.wait_for_message();
        if (!box) return "no message";
        const std::string text = test::message_box_text(box);
        PostMessageA(box, WM_COMMAND, GetDlgItem(box, IDNO) ? IDNO : IDOK, 0);
        stayed_ = product.wait_for_exit(5000) == -1;
        if (stayed_) PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        EXPECT_EQ(product.wait_for_exit(), 0);
        return text;
    }
    // Enter pressed in the focused field, as a keyboard does.
    static void press_enter(HWND dialog) {
        const HWND target = GetDlgItem(dialog, IDC_CONFIRM_PASSWORD);
        PostMessageA(IsWindowVisible(target) ? target : GetDlgItem(dialog, IDC_DECRYPT_PASSWORD),
                     WM_KEYDOWN, VK_RETURN, 1);
    }
    static std::string success(const char* direction, const std::string& path) {
        return std::string(direction) + " has completed successfully.\n" + path +
               "\n\nShow it in Explorer?";
    }

    test::TempFolder temp_;
    std::string app_, enc_, dec_, exe_, tree_, archive_;
    bool stayed_ = false;
};

TEST_F(LockDialogEndToEnd, EncryptsAFolderAndRestoresItWithTimes) {
    // Enter starts the job once the two fields agree.
    EXPECT_EQ(run_job("-c \"" + tree_ + "\"", true, password, true),
              success("Encryption", archive_));
    EXPECT_FALSE(stayed_);
    ASSERT_EQ(GetFileAttributesA(archive_.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);

    // The command-line tool accepts the archive: every entry authenticates.
    test::ScopedEnv env("KORVANE_PASSWORD", std::string(password));
    const test::CliResult checked = test::run_cli({"test", archive_}, temp_.path());
    EXPECT_EQ(checked.status, 0) << checked.err;

    EXPECT_EQ(run_job("-d \"" + archive_ + "\"", false, password),
              success("Decryption", dec_ + "\\Tree"));
    // One top-level folder: its contents land in the folder named after the archive.
    EXPECT_EQ(test::read_file(dec_ + "\\Tree\\a.txt"), "alpha");
    EXPECT_EQ(test::read_file(dec_ + "\\Tree\\sub\\b.txt"), std::string(50000, 'b'));
    platform::FindData found;
    ASSERT_TRUE(platform::find_path((dec_ + "\\Tree\\a.txt").c_str(), found));
    const platform::LocalTime t = platform::to_local_time(found.last_write);
    EXPECT_EQ(std::to_string(t.year) + "-" + std::to_string(t.month) + "-" + std::to_string(t.day) +
                  " " + std::to_string(t.hour) + ":" + std::to_string(t.minute) + ":" +
                  std::to_string(t.second),
              "2007-3-15 10:20:30");
}

// Under code page 1252, names it cannot hold reach the dialog whole: in the
// folder, and as the folder's own name on the command line.
TEST_F(LockDialogEndToEnd, NamesInAnyScriptRoundTrip) {
    ASSERT_EQ(GetACP(), 1252u);
    const char* names[] = {"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e.txt",  // 日本語
                           "emoji\xf0\x9f\x98\x80.txt", "caf\xc3\xa9.txt", "plain.txt"};
    for (const std::string folder : {"Mixed", "\xe8\xb3\x87\xe6\x96\x99"}) {  // 資料
        SCOPED_TRACE(folder);
        const std::string source = temp_ / folder;
        ASSERT_TRUE(CreateDirectoryW(win::widen(source).c_str(), nullptr));
        for (const std::string name : names)
            ASSERT_TRUE(test::write_file(source + "\\" + name, "content of " + name));

        const std::string archive = enc_ + "\\" + folder + ".cry";
        EXPECT_EQ(run_job("-c \"" + source + "\"", true, password), success("Encryption", archive));
        EXPECT_EQ(run_job("-d \"" + archive + "\"", false, password),
                  success("Decryption", dec_ + "\\" + folder));
        for (const std::string name : names)
            EXPECT_EQ(test::read_file(dec_ + "\\" + folder + "\\" + name), "content of " + name);
    }
}

// Passwords typed on a keyboard under code page 1252: characters it cannot
// hold are refused in both directions, and a password it holds keys the
// archive with its code-page bytes, as it always has.
TEST_F(LockDialogEndToEnd, TypedPasswordsAreTheCodePagesBytesOrRefused) {
    ASSERT_EQ(GetACP(), 1252u);
    const std::wstring typed_in_cp1252 = L"pa\u00DF";  // paß
    EXPECT_EQ(run_typed("-c \"" + tree_ + "\"", true, typed_in_cp1252),
              success("Encryption", archive_));
    test::ScopedEnv env("KORVANE_PASSWORD", std::string("pa\xC3\x9F"));
    const test::CliResult checked = test::run_cli({"test", archive_}, temp_.path());
    EXPECT_EQ(checked.status, 0) << checked.err;
    const std::string locked = test::read_file(archive_);

    // What the code page cannot hold is not typed at all; the rest stays.
    const struct {
        bool encrypt;
        std::wstring password;
        std::string kept;  // in the code page
    } refused[] = {
        {true, L"\u043F\u0430\u0440\u043E\u043B\u044C", ""},              // пароль
        {true, L"\uFF50\uFF41\uFF53\uFF53\uFF57\uFF4F\uFF52\uFF44", ""},  // ｐａｓｓｗｏｒｄ
        {true, L"\u30D1\u30B9\u30EF\u30FC\u30C9", ""},                    // パスワード
        {false, L"pa\u00DF\u0444", "pa\xDF"},                             // refused as the last key
        {false, L"\uFF50\uFF41\uFF53\uFF53\uFF57\uFF4F\uFF52\uFF44", ""},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(win::narrow(c.password));
        ProductProcess product(exe_, (c.encrypt ? "-c \"" + tree_ : "-d \"" + archive_) + "\"");
        ASSERT_TRUE(product.started());
        const HWND dialog = product.wait_for_main_window();
        ASSERT_TRUE(dialog);
        const int field = c.encrypt ? IDC_PASSWORD : IDC_DECRYPT_PASSWORD;
        test::type_keys(dialog, field, c.password);
        // Behind the typed keys in the queue: read once they are handled.
        std::string note;
        for (int i = 0; i < 100 && note.empty(); ++i, Sleep(50))
            note = test::control_text(dialog, IDC_PASSWORD_NOTE);
        EXPECT_EQ(note,
                  "That character cannot be part of a password on this system: it was not typed.");
        EXPECT_EQ(test::control_text(dialog, field), c.kept);
        EXPECT_EQ(IsWindowEnabled(GetDlgItem(dialog, IDC_START)) != FALSE,
                  !c.encrypt && !c.kept.empty());
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        EXPECT_EQ(product.wait_for_exit(), 0);
        EXPECT_EQ(test::read_file(archive_), locked);
        EXPECT_EQ(GetFileAttributesA((dec_ + "\\Tree").c_str()), INVALID_FILE_ATTRIBUTES);
    }
    EXPECT_EQ(run_typed("-d \"" + archive_ + "\"", false, typed_in_cp1252),
              success("Decryption", dec_ + "\\Tree"));
    EXPECT_EQ(test::read_file(dec_ + "\\Tree\\a.txt"), "alpha");
}

// A wrong password is reported, writes nothing and keeps the window, its
// field emptied and focused; the right one then succeeds in the same window.
TEST_F(LockDialogEndToEnd, WrongPasswordThenTheRightOneInOneWindow) {
    EXPECT_EQ(run_job("-c \"" + tree_ + "\"", true, password), success("Encryption", archive_));
    ProductProcess product(exe_, "-d \"" + archive_ + "\"");
    ASSERT_TRUE(product.started());
    const HWND dialog = product.wait_for_main_window();
    ASSERT_TRUE(dialog);
    test::set_control_text(dialog, IDC_DECRYPT_PASSWORD, "not the password");
    test::press_button(dialog, IDC_START);
    const HWND box = product.wait_for_message();
    ASSERT_TRUE(box);
    const std::string failed = test::message_box_text(box);
    EXPECT_EQ(failed.rfind("Decryption has failed.\nThe password is invalid.\n", 0), 0u) << failed;
    EXPECT_NE(failed.find(archive_), std::string::npos) << failed;
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(test::wait_until_gone(box));
    EXPECT_EQ(product.wait_for_exit(500), -1);  // the window stays
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(test::control_text(dialog, IDC_DECRYPT_PASSWORD), "");
    GUITHREADINFO gui{};
    gui.cbSize = sizeof gui;
    ASSERT_TRUE(GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &gui));
    EXPECT_EQ(gui.hwndFocus, GetDlgItem(dialog, IDC_DECRYPT_PASSWORD));
    EXPECT_EQ(GetFileAttributesA((dec_ + "\\Tree\\a.txt").c_str()), INVALID_FILE_ATTRIBUTES);

    test::set_control_text(dialog, IDC_DECRYPT_PASSWORD, password);
    test::press_button(dialog, IDC_START);
    EXPECT_EQ(final_message(product, dialog), success("Decryption", dec_ + "\\Tree"));
    EXPECT_FALSE(stayed_);
    EXPECT_EQ(test::read_file(dec_ + "\\Tree\\a.txt"), "alpha");
}

// An input that is gone when Start is pressed fails the job, named, and
// nothing is written; the window stays.
TEST_F(LockDialogEndToEnd, AnInputGoneBeforeStartFailsWithTen) {
    const std::string gone = temp_ / "gone.txt";
    ASSERT_TRUE(test::write_file(gone, "here at first"));
    EXPECT_EQ(run_job_with("-c \"" + gone + "\"",
                           [&](HWND dialog) {
                               ASSERT_TRUE(DeleteFileA(gone.c_str()));
                               test::set_control_text(dialog, IDC_PASSWORD, password);
                               test::set_control_text(dialog, IDC_CONFIRM_PASSWORD, password);
                           }),
              "Encryption has failed.\nThe input file does not exist.\n" + gone);
    EXPECT_TRUE(stayed_);
    EXPECT_EQ(GetFileAttributesA((enc_ + "\\gone.cry").c_str()), INVALID_FILE_ATTRIBUTES);
}

// Failures name what failed and why: the entry of a damaged archive as
// korvane-cli names it, and for a file that cannot be read the system's
// own words.
TEST_F(LockDialogEndToEnd, FailuresNameTheEntryOrFileAndTheReason) {
    EXPECT_EQ(run_job("-c \"" + tree_ + "\"", true, password), success("Encryption", archive_));
    std::string bytes = test::read_file(archive_);
    const std::string name = "sub/b.txt";
    const std::size_t header = bytes.find(name);  // the first local header's name
    ASSERT_NE(header, std::string::npos);
    bytes[header + name.size() + 11 + 16 + 2 + 4] ^= 0x55;  // inside the entry's data
    ASSERT_TRUE(test::write_file(archive_, bytes));
    const std::string damaged = run_job("-d \"" + archive_ + "\"", false, password);
    EXPECT_EQ(damaged.rfind("Decryption has failed.\n", 0), 0u) << damaged;
    EXPECT_NE(damaged.find("entry '"), std::string::npos) << damaged;
    EXPECT_NE(damaged.find("b.txt'"), std::string::npos) << damaged;
    EXPECT_NE(damaged.find(archive_), std::string::npos) << damaged;
    EXPECT_NE(damaged.find("before the failure, in " + dec_ + "\\Tree"), std::string::npos)
        << damaged;
    EXPECT_TRUE(stayed_);

    // Held open without sharing, as another program may hold a file.
    const std::string held = tree_ + "\\a.txt";
    const HANDLE holder = CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    char reason[512] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   ERROR_SHARING_VIOLATION, 0, reason, sizeof reason, nullptr);
    std::string words = reason;
    while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == ' '))
        words.pop_back();
    ASSERT_FALSE(words.empty());
    DeleteFileA(archive_.c_str());
    EXPECT_EQ(run_job("-c \"" + tree_ + "\"", true, password),
              "Encryption has failed.\nInput file cannot be read.\n" + held + "\n" + words);
    CloseHandle(holder);
    EXPECT_TRUE(stayed_);
    EXPECT_EQ(GetFileAttributesA(archive_.c_str()), INVALID_FILE_ATTRIBUTES);
}

// Several archives given together are restored in turn, each into its own
// folder, with one message at the end.
TEST_F(LockDialogEndToEnd, SeveralArchivesAreDecryptedInTurn) {
    const std::string other = temp_ / "Quarterly report.docx";
    ASSERT_TRUE(test::write_file(other, "figures"));
    const std::string other_archive = enc_ + "\\Quarterly report.cry";
    EXPECT_EQ(run_job("-c \"" + tree_ + "\"", true, password), success("Encryption", archive_));
    EXPECT_EQ(run_job("-c \"" + other + "\"", true, password),
              success("Encryption", other_archive));
    EXPECT_EQ(run_job("-d \"" + archive_ + "\" \"" + other_archive + "\"", false, password),
              "Decryption has completed successfully.\n" + dec_ + "\\Tree\n" + dec_ +
                  "\\Quarterly report\n\nShow them in Explorer?");
    EXPECT_EQ(test::read_file(dec_ + "\\Tree\\a.txt"), "alpha");
    EXPECT_EQ(test::read_file(dec_ + "\\Quarterly report\\Quarterly report.docx"), "figures");
}

TEST_F(LockDialogEndToEnd, OpensAnArchiveAnotherToolWrote) {
    // Built beside the test programs by 7zz: AES-256 with a 12-byte password,
    // a folder entry, a stored tiny file and a deflated one.
    const std::string peer = test::beside_tests("peer/PeerTree.zip");
    ASSERT_NE(GetFileAttributesA(peer.c_str()), INVALID_FILE_ATTRIBUTES) << peer;
    EXPECT_EQ(run_job("-d \"" + peer + "\"", false, password),
              success("Decryption", dec_ + "\\PeerTree"));
    EXPECT_EQ(test::read_file(dec_ + "\\PeerTree\\hello.txt"), "hello peer");
    EXPECT_EQ(test::read_file(dec_ + "\\PeerTree\\sub\\text.txt").substr(0, 25),
              "line 1 of the peer's text");
    EXPECT_TRUE(GetFileAttributesA((dec_ + "\\PeerTree\\empty").c_str()) &
                FILE_ATTRIBUTE_DIRECTORY);
    platform::FindData found;
    ASSERT_TRUE(platform::find_path((dec_ + "\\PeerTree\\hello.txt").c_str(), found));
    const platform::LocalTime t = platform::to_local_time(found.last_write);
    EXPECT_EQ(t.year * 10000 + t.month * 100 + t.day, 20070315);
    EXPECT_EQ(t.hour * 10000 + t.minute * 100 + t.second, 102030);
}

TEST_F(LockDialogEndToEnd, DecliningToOverwriteAndCancellingWritesNothing) {
    ASSERT_TRUE(test::write_file(archive_, "an earlier archive"));
    ProductProcess product(exe_, "-c \"" + tree_ + "\"");
    ASSERT_TRUE(product.started()) << exe_ << " error " << GetLastError();
    const HWND dialog = product.wait_for_main_window();
    ASSERT_TRUE(dialog) << "exit code " << product.wait_for_exit(0);
    test::set_control_text(dialog, IDC_PASSWORD, password);
    test::set_control_text(dialog, IDC_CONFIRM_PASSWORD, password);
    test::press_button(dialog, IDC_START);

    const HWND question = product.wait_for_message();
    ASSERT_TRUE(question);
    EXPECT_EQ(test::message_box_text(question),
              archive_ + "\nA file with this name already exists. Do you wish to overwrite it?");
    PostMessageA(question, WM_COMMAND, IDNO, 0);

    const HWND save = product.wait_for_window("Input new File / Folder name");
    ASSERT_TRUE(save);
    PostMessageA(save, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(test::wait_until_gone(save));

    // The Start action stopped silently: no job, the dialog still waits.
    EXPECT_FALSE(product.wait_for_message(1500));
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(test::read_file(archive_), "an earlier archive");
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(product.wait_for_exit(), 0);
}

}  // namespace
}  // namespace korvane
