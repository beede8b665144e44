#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/registration.h"
#include "shell_support.h"

namespace korvane {
namespace {

using namespace shell_test;

// Names of this process and test only, so parallel test processes never meet.
class ShellRegistration : public testing::Test {
  protected:
    void TearDown() override {
        delete_tree(ext_);
        delete_tree(cls_);
        delete_tree(clsid_key_);
        delete_tree(handler_key_);
        delete_tree(handler_key_ + "-sibling");
    }

    int register_type(const char* verb) {
        return register_file_type(ext_.c_str(), cls_.c_str(), "Encryption file",
                                  "C:\\Tools\\kv.exe", "-d \"%1\"", "C:\\Icons\\kv.exe", 1,
                                  0x12345678, 0, verb);
    }
    std::vector<std::string> all_keys() const { return {ext_, cls_, clsid_key_, handler_key_}; }

    const std::string suffix_ = unique_suffix();
    const std::string ext_ = ".kvt-" + suffix_;
    const std::string cls_ = "kvtfile-" + suffix_;
    const std::string id_ = "0F1E2D3C-" + suffix_;
    const std::string name_ = "kvtmenu-" + suffix_;
    const std::string clsid_key_ = "CLSID\\{" + id_ + "}";
    const std::string handler_key_ = "AllFilesystemObjects\\shellex\\ContextMenuHandlers\\" + name_;
};

TEST_F(ShellRegistration, FileTypeWritesEveryValueExactly) {
    ASSERT_EQ(register_type("Decryption"), 1);
    struct Row {
        std::string key;
        const char* value;
        RegValue expected;
    } rows[] = {
        {ext_, nullptr, sz(cls_)},
        {cls_, nullptr, sz("Encryption file")},
        {cls_, "EditFlags", binary({0x78, 0x56, 0x34, 0x12})},  // little-endian
        {cls_, "BrowserFlags", binary({0, 0, 0, 0})},
        {cls_ + "\\DefaultIcon", nullptr, sz("C:\\Icons\\kv.exe,1")},
        {cls_ + "\\shell\\open\\Command", nullptr, sz("\"C:\\Tools\\kv.exe\" -d \"%1\"")},
        {cls_ + "\\shell\\open", nullptr, sz("Decryption")},
    };
    for (const Row& r : rows) {
        const auto got = read_value(r.key, r.value);
        ASSERT_TRUE(got) << r.key << " " << (r.value ? r.value : "(default)");
        EXPECT_EQ(*got, r.expected) << r.key << " " << (r.value ? r.value : "(default)");
    }
    // Nothing beyond the table.
    EXPECT_EQ(value_count(ext_), 1u);
    EXPECT_EQ(value_count(cls_), 3u);
    EXPECT_EQ(value_count(cls_ + "\\DefaultIcon"), 1u);
    EXPECT_EQ(value_count(cls_ + "\\shell"), 0u);
    EXPECT_EQ(value_count(cls_ + "\\shell\\open"), 1u);
    EXPECT_EQ(value_count(cls_ + "\\shell\\open\\Command"), 1u);

    unregister_file_type(ext_.c_str(), cls_.c_str());
    EXPECT_TRUE(dump({ext_, cls_}).empty());
}

TEST_F(ShellRegistration, UnregisteringNothingChangesNothing) {
    ASSERT_TRUE(create_key(handler_key_ + "-sibling"));
    const RegDump before = dump({"AllFilesystemObjects\\shellex\\ContextMenuHandlers"});
    unregister_file_type(ext_.c_str(), cls_.c_str());
    unregister_context_menu_handler(id_.c_str(), name_.c_str());
    EXPECT_TRUE(dump(all_keys()).empty());  // no parent key made on the way
    EXPECT_EQ(dump({"AllFilesystemObjects\\shellex\\ContextMenuHandlers"}), before);
}

TEST_F(ShellRegistration, RegisteredOnlyWithBothKeys) {
    struct Case {
        bool server_key;
        bool handler_key;
        int expected;
    } cases[] = {{false, false, 0}, {true, false, 0}, {false, true, 0}, {true, true, 1}};
    for (const Case& c : cases) {
        delete_tree(clsid_key_);
        delete_tree(handler_key_);
        if (c.server_key) {
            ASSERT_TRUE(create_key(clsid_key_ + "\\InprocServer32"));
        }
        if (c.handler_key) {
            ASSERT_TRUE(create_key(handler_key_));
        }
        EXPECT_EQ(is_context_menu_handler_registered(id_.c_str(), name_.c_str()), c.expected)
            << "server " << c.server_key << " handler " << c.handler_key;
    }
    // The class key alone, without its server key, is not enough either.
    delete_tree(clsid_key_);
    ASSERT_TRUE(create_key(clsid_key_));
    EXPECT_EQ(is_context_menu_handler_registered(id_.c_str(), name_.c_str()), 0);
}

TEST_F(ShellRegistration, WithoutVerbNameOpenHasNoDefault) {
    ASSERT_EQ(register_type(nullptr), 1);
    EXPECT_TRUE(key_exists(cls_ + "\\shell\\open"));
    EXPECT_FALSE(read_value(cls_ + "\\shell\\open", nullptr));
    EXPECT_EQ(value_count(cls_ + "\\shell\\open"), 0u);
    EXPECT_EQ(*read_value(cls_ + "\\shell\\open\\Command", nullptr),
              sz("\"C:\\Tools\\kv.exe\" -d \"%1\""));
}

TEST_F(ShellRegistration, ForeignVerbKeepsClassAndShell) {
    ASSERT_EQ(register_type("Decryption"), 1);
    ASSERT_TRUE(create_key(cls_ + "\\shell\\print\\command"));
    unregister_file_type(ext_.c_str(), cls_.c_str());
    EXPECT_FALSE(key_exists(ext_));
    EXPECT_FALSE(key_exists(cls_ + "\\shell\\open"));
    EXPECT_FALSE(key_exists(cls_ + "\\DefaultIcon"));
    EXPECT_TRUE(key_exists(cls_));
    EXPECT_TRUE(key_exists(cls_ + "\\shell"));
    EXPECT_TRUE(key_exists(cls_ + "\\shell\\print\\command"));
}

TEST_F(ShellRegistration, StopsAtTheFirstFailure) {
    // A key name component past 255 characters cannot be created: step 2 fails
    // and what step 1 wrote stays, for unregister to remove.
    const std::string long_class = std::string(300, 'k');
    EXPECT_EQ(register_file_type(ext_.c_str(), long_class.c_str(), "d", "C:\\kv.exe", "-d",
                                 "C:\\kv.exe", 1, 0, 0, "Decryption"),
              0);
    EXPECT_EQ(*read_value(ext_, nullptr), sz(long_class));
    EXPECT_FALSE(key_exists(long_class));

    const std::string long_id = std::string(300, '1');
    EXPECT_EQ(register_context_menu_handler(long_id.c_str(), "d", name_.c_str(), "C:\\k.dll"), 0);
    EXPECT_FALSE(key_exists(handler_key_));  // never reached

    // No library path (it did not fit at start-up): nothing is registered.
    EXPECT_EQ(register_context_menu_handler(id_.c_str(), "d", name_.c_str(), ""), 0);
    EXPECT_TRUE(dump({clsid_key_, handler_key_}).empty());
    // No executable: no open command that would run nothing.
    EXPECT_EQ(register_file_type(ext_.c_str(), cls_.c_str(), "d", "", "-d", "", 1, 0, 0, nullptr),
              0);
    EXPECT_FALSE(key_exists(cls_));
}

TEST(ShellNotification, ShellIsNotified) {
    EXPECT_EQ(notify_association_changed(), 1);
}

}  // namespace
}  // namespace korvane
