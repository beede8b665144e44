// korvane.exe as a user meets it: started with a switch and a path, the
// password typed, Start pressed, the final message read, the files checked.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/crypt_job.h"
#include "cli/cli_runner.h"
#include "e2e_support.h"
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

    // Runs one job from the dialog and returns the final message; the
    // program must then end with 0.
    std::string run_job(const std::string& arguments, bool encrypt, const std::string& pw) {
        return run_job_with(arguments, [&](HWND dialog) {
            if (encrypt) {
                test::set_control_text(dialog, IDC_PASSWORD, pw);
                test::set_control_text(dialog, IDC_CONFIRM_PASSWORD, pw);
            } else {
                test::set_control_text(dialog, IDC_DECRYPT_PASSWORD, pw);
            }
        });
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
    std::string run_job_with(const std::string& arguments, Enter enter_password) {
        ProductProcess product(exe_, arguments);
        EXPECT_TRUE(product.started());
        const HWND dialog = product.wait_for_window("Korvane File");
        if (!dialog) return "no dialog";
        enter_password(dialog);
        test::press_button(dialog, IDC_START);
        const HWND box = product.wait_for_window("Information", 60000);
        if (!box) return "no message";
        const std::string text = test::message_box_text(box);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(product.wait_for_exit(), 0);
        return text;
    }

    test::TempFolder temp_;
    std::string app_, enc_, dec_, exe_, tree_, archive_;
};

TEST_F(LockDialogEndToEnd, EncryptsAFolderAndRestoresItWithTimes) {
    EXPECT_EQ(run_job("-c \"" + tree_ + "\"", true, password),
              "Encryption has completed successfully.");
    ASSERT_EQ(GetFileAttributesA(archive_.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);

    // The command-line tool accepts the archive: every entry authenticates.
    test::ScopedEnv env("KORVANE_PASSWORD", std::string(password));
    const test::CliResult checked = test::run_cli({"test", archive_}, temp_.path());
    EXPECT_EQ(checked.status, 0) << checked.err;

    EXPECT_EQ(run_job("-d \"" + archive_ + "\"", false, password),
              "Decryption has completed successfully.");
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

        EXPECT_EQ(run_job("-c \"" + source + "\"", true, password),
                  "Encryption has completed successfully.");
        const std::string archive = enc_ + "\\" + folder + ".cry";
        EXPECT_EQ(run_job("-d \"" + archive + "\"", false, password),
                  "Decryption has completed successfully.");
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
              "Encryption has completed successfully.");
    test::ScopedEnv env("KORVANE_PASSWORD", std::string("pa\xC3\x9F"));
    const test::CliResult checked = test::run_cli({"test", archive_}, temp_.path());
    EXPECT_EQ(checked.status, 0) << checked.err;
    const std::string locked = test::read_file(archive_);

    const struct {
        bool encrypt;
        std::wstring password;
    } refused[] = {
        {true, L"\u043F\u0430\u0440\u043E\u043B\u044C"},              // пароль
        {true, L"\uFF50\uFF41\uFF53\uFF53\uFF57\uFF4F\uFF52\uFF44"},  // ｐａｓｓｗｏｒｄ
        {true, L"\u30D1\u30B9\u30EF\u30FC\u30C9"},                    // パスワード
        {false, L"pa\u00DF\u0444"},
        {false, L"\uFF50\uFF41\uFF53\uFF53\uFF57\uFF4F\uFF52\uFF44"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(win::narrow(c.password));
        ProductProcess product(exe_, (c.encrypt ? "-c \"" + tree_ : "-d \"" + archive_) + "\"");
        ASSERT_TRUE(product.started());
        const HWND dialog = product.wait_for_window("Korvane File");
        ASSERT_TRUE(dialog);
        const std::vector<int> fields = c.encrypt
                                            ? std::vector<int>{IDC_PASSWORD, IDC_CONFIRM_PASSWORD}
                                            : std::vector<int>{IDC_DECRYPT_PASSWORD};
        for (int id : fields) test::type_keys(dialog, id, c.password);
        test::press_button(dialog, IDC_START);
        const HWND box = product.wait_for_window("Error");
        ASSERT_TRUE(box);
        EXPECT_EQ(test::message_box_text(box),
                  "The password holds a character that this system's code page cannot hold.");
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(test::wait_until_gone(box));
        PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        EXPECT_EQ(product.wait_for_exit(), 0);
        EXPECT_EQ(test::read_file(archive_), locked);
        EXPECT_EQ(GetFileAttributesA((dec_ + "\\Tree").c_str()), INVALID_FILE_ATTRIBUTES);
    }
    EXPECT_EQ(run_typed("-d \"" + archive_ + "\"", false, typed_in_cp1252),
              "Decryption has completed successfully.");
    EXPECT_EQ(test::read_file(dec_ + "\\Tree\\a.txt"), "alpha");
}

TEST_F(LockDialogEndToEnd, WrongPasswordIsReportedAndWritesNothing) {
    EXPECT_EQ(run_job("-c \"" + tree_ + "\"", true, password),
              "Encryption has completed successfully.");
    EXPECT_EQ(run_job("-d \"" + archive_ + "\"", false, "not the password"),
              "Decryption has failed.\nThe password is invalid.");
    EXPECT_EQ(GetFileAttributesA((dec_ + "\\Tree\\a.txt").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(LockDialogEndToEnd, OpensAnArchiveAnotherToolWrote) {
    // Built beside the test programs by 7zz: AES-256 with a 12-byte password,
    // a folder entry, a stored tiny file and a deflated one.
    const std::string peer = test::beside_tests("peer/PeerTree.zip");
    ASSERT_NE(GetFileAttributesA(peer.c_str()), INVALID_FILE_ATTRIBUTES) << peer;
    EXPECT_EQ(run_job("-d \"" + peer + "\"", false, password),
              "Decryption has completed successfully.");
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
    const HWND dialog = product.wait_for_window("Korvane File");
    ASSERT_TRUE(dialog) << "exit code " << product.wait_for_exit(0);
    test::set_control_text(dialog, IDC_PASSWORD, password);
    test::set_control_text(dialog, IDC_CONFIRM_PASSWORD, password);
    test::press_button(dialog, IDC_START);

    const HWND question = product.wait_for_window("Confirm overwriting.");
    ASSERT_TRUE(question);
    EXPECT_EQ(test::message_box_text(question),
              "A file with this name already exists. Do you wish to overwrite it?");
    PostMessageA(question, WM_COMMAND, IDNO, 0);

    const HWND save = product.wait_for_window("Input new File / Folder name");
    ASSERT_TRUE(save);
    PostMessageA(save, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(test::wait_until_gone(save));

    // The Start action stopped silently: no job, the dialog still waits.
    EXPECT_FALSE(product.wait_for_window("Information", 1500));
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ(test::read_file(archive_), "an earlier archive");
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(product.wait_for_exit(), 0);
}

}  // namespace
}  // namespace korvane
