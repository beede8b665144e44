// Whole archives whose names hold double-byte characters with a 0x5C second
// byte: stored as the code page's bytes with '/' only between components and
// bit 11 clear, restored with names intact; UTF-8 names another archiver
// flagged are read as UTF-8.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "archive/paths.h"
#include "engine/crypt_job.h"
#include "engine/writer.h"
#include "ops/output_naming.h"
#include "platform/platform.h"
#include "unit/temp_folder.h"

namespace korvane {
namespace {

// The program's UTF-8 and the code page's bytes of 表 and ソ.
const std::string hyo = "\xE8\xA1\xA8", hyo_sjis = "\x95\x5C";
const std::string so = "\xE3\x82\xBD", so_sjis = "\x83\x5C";
const std::string yoteihyo = "\xE4\xBA\x88\xE5\xAE\x9A" + hyo;  // 予定表
const std::string yoteihyo_sjis = "\x97\x5C\x92\xE8" + hyo_sjis;

class Cp932RoundTrip : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(GetACP(), 932u); }
};

ResultCode run(ResultCode (*worker)(CryptJob&), const std::string& input,
               const std::string& output) {
    std::atomic<std::uint64_t> processed{0}, total{0};
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
    EXPECT_NE(bytes.find(hyo_sjis + "data/" + so_sjis + "/" + hyo_sjis + "/" + hyo_sjis + so_sjis +
                         ".bin"),
              std::string::npos);

    const std::string out = tmp / "out";
    ASSERT_EQ(run(decrypt_worker, archive, out), result_ok);
    std::vector<std::string> expected = {so + "\\" + hyo + "\\" + hyo + so + ".bin", so + ".txt"};
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

// 予定表 is 6 bytes in the code page (9 in UTF-8) and ends in a 0x5C byte
// there: its archive is 予定表.cry, the name whole.
TEST_F(Cp932RoundTrip, FolderNamesEndingInA5CByteNameTheirArchives) {
    const struct {
        std::string input;
        std::string archive;
    } cases[] = {
        {"C:\\data\\" + yoteihyo, yoteihyo + ".cry"},
        {"C:\\data\\" + yoteihyo + "\\", yoteihyo + ".cry"},
        {hyo + "\\", hyo + ".cry"},
        {"C:\\" + yoteihyo + yoteihyo, yoteihyo + yoteihyo + ".cry"},  // whole, not cut
    };
    for (const auto& c : cases)
        EXPECT_EQ(encrypted_file_name(split_source(c.input).base_name, false, {}), c.archive)
            << c.archive;
}

TEST_F(Cp932RoundTrip, NamesAreStoredInTheCodePageUnlessItCannotHoldThem) {
    test::TempFolder tmp;
    const std::string emoji = "\xF0\x9F\x98\x80";
    const struct {
        std::string folder;
        std::string stored;
        std::uint16_t flags;
    } cases[] = {
        {yoteihyo, yoteihyo_sjis + "/x.txt", 1},
        {yoteihyo + emoji, yoteihyo + emoji + "/x.txt", 0x801},
    };
    for (const auto& c : cases) {
        const std::string top = tmp / c.folder;
        ASSERT_TRUE(create_folder_chain(top.c_str()));
        ASSERT_TRUE(test::write_file(top + "\\x.txt", "x"));
        const std::string archive = tmp / "names.cry";
        ASSERT_EQ(run(encrypt_worker, top, archive), result_ok);
        const std::string bytes = test::read_file(archive);
        ASSERT_GT(bytes.size(), 30 + c.stored.size());
        EXPECT_EQ(static_cast<unsigned char>(bytes[6]) | static_cast<unsigned char>(bytes[7]) << 8,
                  c.flags);
        EXPECT_EQ(bytes.substr(30, c.stored.size()), c.stored);
        const std::string out = tmp / "out";
        ASSERT_EQ(run(decrypt_worker, archive, out), result_ok);
        EXPECT_EQ(walk(out), std::vector<std::string>{"x.txt"});
        EXPECT_EQ(test::read_file(out + "\\x.txt"), "x");
        ASSERT_TRUE(platform::delete_file(archive.c_str()));
    }
}

// Names without the UTF-8 flag whose bytes this code page has no reading
// for (Latin-1 café.txt and cafè.txt, as a native lock stores them) are
// refused, naming the entry; read with a character replaced, both would be
// one file.
TEST_F(Cp932RoundTrip, NamesTheCodePageCannotReadAreRefused) {
    test::TempFolder tmp;
    const std::string archive = tmp / "latin.cry", payload = tmp / "payload";
    ASSERT_TRUE(test::write_file(payload, "x"));
    {
        std::atomic<std::uint64_t> processed{0}, total{0};
        std::atomic<bool> cancel{false};
        const CryptJob job({}, "", "password", 6, processed, total, cancel);
        ArchiveWriter writer;
        ASSERT_EQ(writer.open(archive.c_str()), result_ok);
        for (const char* name : {"caf\xE9.txt", "caf\xE8.txt"})
            ASSERT_EQ(writer.add_file(payload.c_str(), name, job), result_ok);
        ASSERT_EQ(writer.finish(), result_ok);
        ASSERT_EQ(writer.commit(), result_ok);
    }
    std::atomic<std::uint64_t> processed{0}, total{0};
    std::atomic<bool> cancel{false};
    CryptJob job({archive}, tmp / "out", "password", 6, processed, total, cancel);
    EXPECT_EQ(decrypt_worker(job), result_bad_path);
    EXPECT_TRUE(job.fault.name_unreadable);
    EXPECT_EQ(job.fault.entry, "caf\\xE9.txt");
    EXPECT_FALSE(platform::folder_exists((tmp / "out").c_str()));
}

// 7zz stores 中文名.txt as UTF-8 with bit 11; read as the code page's bytes
// it would come out garbled.
TEST_F(Cp932RoundTrip, PeerUtf8NamesAreRestored) {
    std::string peer = platform::executable_path();
    peer.erase(peer.find_last_of('\\') + 1);
    peer += "peer\\utf8-names.zip";
    test::TempFolder tmp;
    std::atomic<std::uint64_t> processed{0}, total{0};
    std::atomic<bool> cancel{false};
    CryptJob job({peer}, tmp / "out", "peer password", 6, processed, total, cancel);
    ASSERT_EQ(decrypt_worker(job), result_ok);
    const std::string chinese = "\xE4\xB8\xAD\xE6\x96\x87\xE5\x90\x8D.txt";  // 中文名.txt
    EXPECT_EQ(walk(tmp / "out"), std::vector<std::string>{chinese});
    EXPECT_EQ(test::read_file(tmp / ("out/" + chinese)), "written by a peer\n");
}

}  // namespace
}  // namespace korvane
