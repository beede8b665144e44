// The encryption job: size limits, skipped inputs, cancel and failures that
// must leave an earlier output file untouched.
#include <gtest/gtest.h>

#include "archive/writer.h"
#include "archive_support.h"
#include "temp_folder.h"

namespace korvane {
namespace {

using namespace test;

class Writer : public testing::Test {
protected:
    TempFolder temp;
    fs::path dir() { return temp.path(); }

    void make_sparse(const fs::path& p, std::uintmax_t size) {
        write_bytes(p, "");
        fs::resize_file(p, size);
    }
    // Nothing but the given names may be left in the folder: no temporary
    // file survives a job.
    void expect_only(const std::vector<std::string>& names) {
        std::vector<std::string> found;
        for (const auto& e : fs::directory_iterator(dir())) found.push_back(e.path().filename().string());
        std::sort(found.begin(), found.end());
        std::vector<std::string> expected = names;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(found, expected);
    }
};

TEST_F(Writer, InputsJustUnderTwoGigabytesAreAccepted) {
    make_sparse(dir() / "big", (1ull << 31) - 1);
    // Cancelled at its first block: the size pass let the job through.
    EXPECT_EQ(encrypt({(dir() / "big").string()}, dir() / "a.cry", "pw", 6, true),
              result_cancelled);
    expect_only({"big"});
}

TEST_F(Writer, TwoGigabytesInTotalAreRefusedBeforeAnythingExists) {
    make_sparse(dir() / "big", (1ull << 31) - 1);
    write_bytes(dir() / "one", "x");
    EXPECT_EQ(encrypt({(dir() / "big").string(), (dir() / "one").string()}, dir() / "a.cry", "pw"),
              result_too_large);
    expect_only({"big", "one"});
}

TEST_F(Writer, MissingInputsAreSkipped) {
    write_bytes(dir() / "real.txt", "content");
    const fs::path archive = dir() / "a.cry";
    ASSERT_EQ(encrypt({(dir() / "gone").string(), (dir() / "real.txt").string()}, archive, "pw"),
              result_ok);
    EXPECT_EQ(entry_count(archive), 1u);
}

TEST_F(Writer, FailedOrCancelledJobLeavesAnEarlierOutputUntouched) {
    write_bytes(dir() / "data.txt", text(100000));
    const struct {
        const char* why;
        int level;
        bool cancel;
        ResultCode expected;
    } cases[] = {
        {"cancel", 6, true, result_cancelled},
        {"level zlib refuses", 42, false, result_compression_error},
    };
    for (const auto& c : cases) {
        write_bytes(dir() / "out.cry", "earlier archive");
        EXPECT_EQ(encrypt({(dir() / "data.txt").string()}, dir() / "out.cry", "pw", c.level,
                          c.cancel),
                  c.expected)
            << c.why;
        EXPECT_EQ(read_bytes(dir() / "out.cry"), "earlier archive") << c.why;
        expect_only({"data.txt", "out.cry"});
    }
}

TEST_F(Writer, CancelWithoutEarlierOutputLeavesNoArchive) {
    write_bytes(dir() / "data.bin", noise(200000));
    EXPECT_EQ(encrypt({(dir() / "data.bin").string()}, dir() / "out.cry", "pw", 6, true),
              result_cancelled);
    expect_only({"data.bin"});
}

TEST_F(Writer, SuccessReplacesAnEarlierOutput) {
    write_bytes(dir() / "data.txt", "new content");
    write_bytes(dir() / "out.cry", "earlier archive");
    ASSERT_EQ(encrypt({(dir() / "data.txt").string()}, dir() / "out.cry", "pw"), result_ok);
    EXPECT_EQ(entry_count(dir() / "out.cry"), 1u);
    expect_only({"data.txt", "out.cry"});
}

TEST_F(Writer, MissingOutputFolderGivesOpenFailure) {
    write_bytes(dir() / "data.txt", "x");
    EXPECT_EQ(encrypt({(dir() / "data.txt").string()}, dir() / "no" / "such" / "out.cry", "pw"),
              result_open_output_failed);
}

TEST_F(Writer, FolderInputsAreStoredUnderTheFolderName) {
    write_bytes(dir() / "Reports" / "a.txt", "a");
    write_bytes(dir() / "Reports" / "sub" / "b.txt", "b");
    fs::create_directories(dir() / "Reports" / "empty");
    const fs::path archive = dir() / "r.cry";
    // A trailing separator names the same folder.
    const std::string input = (dir() / "Reports").string() + platform::separator;
    ASSERT_EQ(encrypt({input}, archive, "pw"), result_ok);
    const std::string a = read_bytes(archive);
    EXPECT_NE(a.find("Reports/a.txt"), std::string::npos);
    EXPECT_NE(a.find("Reports/sub/b.txt"), std::string::npos);
    EXPECT_EQ(entry_count(archive), 2u);
}

TEST_F(Writer, OutputInsideTheInputFolderIsNotTakenAsInput) {
    write_bytes(dir() / "src" / "a.txt", text(50000));
    write_bytes(dir() / "src" / "out.cry", "earlier");
    ASSERT_EQ(encrypt({(dir() / "src").string()}, dir() / "src" / "out.cry", "pw"), result_ok);
    EXPECT_EQ(entry_count(dir() / "src" / "out.cry"), 1u);
}

#ifndef _WIN32
TEST_F(Writer, ReadErrorIsAFailureNotATruncatedEntry) {
    // The kernel refuses reads of this file's first page: fopen works, fread fails.
    EXPECT_EQ(encrypt({"/proc/self/mem"}, dir() / "out.cry", "pw"), result_read_failed);
    expect_only({});
}
#endif

TEST_F(Writer, ProgressCountsEveryInputByte) {
    write_bytes(dir() / "a", noise(40000));
    write_bytes(dir() / "b", text(70000));
    JobCounters c;
    CryptJob job =
        c.job({(dir() / "a").string(), (dir() / "b").string()}, (dir() / "o.cry").string(), "pw");
    ASSERT_EQ(encrypt_worker(job), result_ok);
    EXPECT_EQ(c.total.load(), 110000u);
    EXPECT_EQ(c.processed.load(), 110000u);
}

}  // namespace
}  // namespace korvane
