// Paths in code page 932, where the second byte of 表 (0x95 0x5C) and ソ
// (0x83 0x5C) is the backslash byte. Inside, paths are UTF-8, where no byte of
// either is; the code page's form appears only at the archive and the cut.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "archive/paths.h"
#include "platform/platform.h"
#include "unit/temp_folder.h"

namespace korvane {
namespace {

const std::string hyo = "\xE8\xA1\xA8";  // 表
const std::string so = "\xE3\x82\xBD";   // ソ

// Without code page 932 every case below would pass for the wrong reason.
class Cp932Test : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(GetACP(), 932u); }
};

TEST_F(Cp932Test, TrailByteIsNotASeparator) {
    EXPECT_TRUE(platform::is_lead_byte(0x95));
    EXPECT_FALSE(platform::is_lead_byte(0x5C));
    std::string ansi;
    ASSERT_TRUE(platform::to_ansi_name(hyo + so, ansi));
    EXPECT_EQ(ansi, "\x95\x5C\x83\x5C");
    EXPECT_EQ(platform::from_ansi_name(ansi), hyo + so);
    EXPECT_EQ(platform::char_length(hyo.c_str()), hyo.size());
    EXPECT_EQ(platform::char_length("\x95"), 1u);  // a lead byte at the end stays one byte

    std::string name = hyo + "dir\\" + so;
    EXPECT_TRUE(strip_first_component(name.data()));
    EXPECT_STREQ(name.c_str(), so.c_str());
    EXPECT_FALSE(strip_first_component(name.data()));  // ソ alone holds no separator

    name = hyo + "dir/x";
    EXPECT_TRUE(cut_at_first_separator(name.data()));
    EXPECT_EQ(std::string(name.c_str()), hyo + "dir");

    std::string archive_name = hyo + "\\" + so + "\\a";
    to_archive_separators(archive_name.data(), archive_name.data(), archive_name.size());
    EXPECT_EQ(archive_name, hyo + "/" + so + "/a");

    char parent[32];
    EXPECT_TRUE(parent_folder(("C:\\" + hyo).c_str(), parent, sizeof parent));
    EXPECT_STREQ(parent, "C:");
    EXPECT_TRUE(parent_folder((hyo + "\\" + so).c_str(), parent, sizeof parent));
    EXPECT_EQ(std::string(parent), hyo);

    EXPECT_EQ(join_path("C:\\" + hyo, "x"), "C:\\" + hyo + "\\x");
    EXPECT_EQ(join_path("C:\\" + hyo + "\\", "x"), "C:\\" + hyo + "\\x");

    EXPECT_FALSE(has_dot_component((hyo + "..").c_str()));
    // Refused for the trailing dots the path layer drops, not as "..".
    EXPECT_FALSE(is_safe_entry_name((hyo + "..").c_str(), true));
    EXPECT_TRUE(is_safe_entry_name((hyo + "..x").c_str(), true));
    EXPECT_TRUE(is_safe_entry_name((so + "/" + hyo).c_str(), true));
}

TEST_F(Cp932Test, NamesSurviveTheFileSystem) {
    test::TempFolder tmp;
    const std::string folder = tmp / (hyo + "/" + so);
    ASSERT_TRUE(create_folder_chain(folder.c_str()));
    ASSERT_TRUE(platform::folder_exists((tmp / hyo).c_str()));
    ASSERT_TRUE(test::write_file(folder + "\\" + hyo + ".txt", "hyo"));
    ASSERT_TRUE(test::write_file(tmp / (so + ".dat"), "so!"));

    platform::FindData found;
    ASSERT_TRUE(platform::find_path((tmp / hyo + "\\").c_str(), found));
    EXPECT_EQ(found.name, hyo);
    EXPECT_TRUE(found.is_folder);

    std::vector<std::pair<std::string, std::uint64_t>> files;
    FolderWalker walker(tmp.path());
    while (const FolderWalker::Record* r = walker.next()) {
        EXPECT_EQ(r->full_path, join_path(tmp.path(), r->relative_path));
        files.emplace_back(r->relative_path, r->data.size);
    }
    std::sort(files.begin(), files.end());
    const std::vector<std::pair<std::string, std::uint64_t>> expected = {
        {so + ".dat", 3}, {hyo + "\\" + so + "\\" + hyo + ".txt", 3}};
    EXPECT_EQ(files, expected);
}

}  // namespace
}  // namespace korvane
