// Whole archives whose names hold double-byte characters with a 0x5C second
// byte: stored with '/' only between components, restored with names intact.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "archive/crypt_job.h"
#include "archive/paths.h"
#include "ops/output_naming.h"
#include "unit/temp_folder.h"

namespace korvane {
namespace {

const std::string hyo = "\x95\x5C";  // 表
const std::string so = "\x83\x5C";   // ソ

class Cp932RoundTrip : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(GetACP(), 932u); }
};

ResultCode run(ResultCode (*worker)(CryptJob&), const std::string& input,
               const std::string& output) {
    std::atomic<std::uint32_t> processed{0}, total{0};
    std::atomic<bool> cancel{false};
    CryptJob job({input}, output, "password", 6, processed, total, cancel);
    return worker(job);
}

std::vector<std::string> walk(const std::string& folder) {
    std::vector<std::string> names;
    FolderWalker walker(folder);
    while (const FolderWalker::Record* r = walker.next()) names.push_back(r->relative_path);
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(Cp932RoundTrip, NamesSurviveEncryptionAndDecryption) {
    test::TempFolder tmp;
    const std::string top = tmp / (hyo + "data");
    ASSERT_TRUE(create_folder_chain((top + "\\" + so + "\\" + hyo).c_str()));
    ASSERT_TRUE(test::write_file(top + "\\" + so + ".txt", "one"));
    ASSERT_TRUE(test::write_file(top + "\\" + so + "\\" + hyo + "\\" + hyo + so + ".bin", "two"));

    const std::string archive = tmp / "names.cry";
    ASSERT_EQ(run(encrypt_worker, top, archive), result_ok);
    // Stored names use '/' between components only: the 0x5C trail bytes stay.
    const std::string bytes = test::read_file(archive);
    EXPECT_NE(bytes.find(hyo + "data/" + so + "/" + hyo + "/" + hyo + so + ".bin"),
              std::string::npos);

    const std::string out = tmp / "out";
    ASSERT_EQ(run(decrypt_worker, archive, out), result_ok);
    std::vector<std::string> expected = {so + "\\" + hyo + "\\" + hyo + so + ".bin",
                                         so + ".txt"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(walk(out), expected);
    EXPECT_EQ(test::read_file(out + "\\" + so + "\\" + hyo + "\\" + hyo + so + ".bin"), "two");
}

TEST_F(Cp932RoundTrip, OutputNamesAreCutBeforeADoubleByteCharacter) {
    std::string across = "abcdefg" + hyo + "z";  // 表 at bytes 8 and 9
    truncate_name(across, 8);
    EXPECT_EQ(across, "abcdefg");
    std::string fits = "abcdef" + hyo + "z";
    truncate_name(fits, 8);
    EXPECT_EQ(fits, "abcdef" + hyo);
    EXPECT_EQ(split_source("C:\\" + hyo + "\\" + so + ".txt").base_name, so);
    EXPECT_EQ(split_source("C:\\" + hyo + "\\" + so + ".txt").folder, "C:\\" + hyo);
}

}  // namespace
}  // namespace korvane
