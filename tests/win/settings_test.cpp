#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "settings/settings.h"

namespace korvane {
namespace {

namespace fs = std::filesystem;

class SettingsStore : public testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("kvn-settings-" + std::to_string(GetCurrentProcessId()) + "-" +
                   testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        ini_ = (folder_ / "crypt.ini").string();
        std::snprintf(settings_.ini_path, sizeof settings_.ini_path, "%s", ini_.c_str());
    }
    void TearDown() override { fs::remove_all(folder_); }

    void write_ini(const std::string& text) { std::ofstream(ini_, std::ios::binary) << text; }
    std::string read_ini() {
        std::ifstream in(ini_, std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }

    fs::path folder_;
    std::string ini_;
    Settings settings_;
};

TEST_F(SettingsStore, MissingFileGivesDefaults) {
    settings_.encrypt_path = 3;
    settings_.compression_level = 1;
    settings_.user_defined_encrypt_path[0] = 'x';
    load_from_ini(settings_);
    EXPECT_EQ(settings_.encrypt_path, 0);
    EXPECT_EQ(settings_.encrypt_file, 0);
    EXPECT_EQ(settings_.decrypt_path, 0);
    EXPECT_STREQ(settings_.user_defined_encrypt_path, "");
    EXPECT_STREQ(settings_.user_defined_decrypt_path, "");
    EXPECT_EQ(settings_.compression_level, 6);
    EXPECT_FALSE(fs::exists(ini_));  // loading never creates the file
}

TEST_F(SettingsStore, SaveIntoMissingFileWritesSixKeysInOrder) {
    settings_.user_defined_encrypt_path[0] = '\0';
    std::snprintf(settings_.user_defined_decrypt_path, settings_path_size, "D:\\out");
    settings_.decrypt_path = 3;
    settings_.compression_level = 9;
    EXPECT_TRUE(save(settings_));
    EXPECT_EQ(read_ini(),
              "[default]\r\n"
              "user_defined_encrypt_path=\r\n"
              "encrypt_path=0\r\n"
              "encrypt_file=0\r\n"
              "decrypt_path=3\r\n"
              "user_defined_decrypt_path=D:\\out\r\n"
              "compression_level=9\r\n");
}

TEST_F(SettingsStore, RoundTripKeepsOutOfRangeValues) {
    write_ini("[default]\r\nencrypt_path=7\r\nencrypt_file=2\r\ncompression_level=1\r\n"
              "decrypt_path=-1\r\nuser_defined_encrypt_path=C:\\Enc Folder\r\n");
    load_from_ini(settings_);
    EXPECT_EQ(settings_.encrypt_path, 7);
    EXPECT_EQ(settings_.encrypt_file, 2);
    EXPECT_EQ(settings_.compression_level, 1);
    EXPECT_EQ(settings_.decrypt_path, -1);
    EXPECT_STREQ(settings_.user_defined_encrypt_path, "C:\\Enc Folder");

    Settings again;
    std::snprintf(again.ini_path, sizeof again.ini_path, "%s", ini_.c_str());
    save(settings_);
    load_from_ini(again);
    EXPECT_EQ(again.encrypt_path, 7);
    EXPECT_EQ(again.compression_level, 1);
    EXPECT_EQ(again.decrypt_path, -1);
    EXPECT_STREQ(again.user_defined_encrypt_path, "C:\\Enc Folder");
}

TEST_F(SettingsStore, LongFolderIsCutTo259Characters) {
    const std::string long_folder = "C:\\" + std::string(400, 'f');
    write_ini("[default]\r\nuser_defined_decrypt_path=" + long_folder + "\r\n");
    load_from_ini(settings_);
    EXPECT_EQ(std::string(settings_.user_defined_decrypt_path), long_folder.substr(0, 259));
}

TEST(SettingsPath, FollowsTheExecutableName) {
    struct Case {
        const char* exe;
        const char* ini;
    } cases[] = {
        {"D:\\Tools\\crypt.exe", "D:\\Tools\\crypt.ini"},
        {"D:\\Tools\\renamed.tool.exe", "D:\\Tools\\renamed.tool.ini"},
        {"D:\\v1.2\\crypt", "D:\\v1.2\\crypt.ini"},
        {"crypt.exe", "crypt.ini"},
    };
    for (const Case& c : cases) {
        char out[MAX_PATH];
        ini_path_for(c.exe, out, sizeof out);
        EXPECT_STREQ(out, c.ini) << c.exe;
    }

    // load() takes the file beside the program while one exists, the user's
    // own (whose folder save() makes) otherwise.
    char exe[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(nullptr, exe, sizeof exe), 0u);
    std::string beside(exe);
    beside.replace(beside.rfind('.'), std::string::npos, ".ini");
    PWSTR raw = nullptr;
    ASSERT_EQ(SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &raw), S_OK);
    const fs::path roaming(raw);
    CoTaskMemFree(raw);
    const fs::path own_folder = roaming / "Korvane File";
    const bool had_own_folder = fs::exists(own_folder);
    ASSERT_FALSE(fs::exists(beside)) << beside;

    Settings s;
    load(s);
    EXPECT_EQ(fs::path(s.ini_path), own_folder / "korvane.ini");
    if (!had_own_folder) {
        s.compression_level = 1;
        save(s);
        EXPECT_TRUE(fs::is_regular_file(own_folder / "korvane.ini"));
        fs::remove_all(own_folder);
    }

    std::ofstream(beside) << "[default]\r\ncompression_level=9\r\n";
    Settings portable;
    load(portable);
    fs::remove(beside);
    EXPECT_STREQ(portable.ini_path, beside.c_str());
    EXPECT_EQ(portable.compression_level, 9);
}

}  // namespace
}  // namespace korvane
