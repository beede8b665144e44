// Encrypted archives written by 7zz and bsdtar open with our reader: folder
// entries, tiny stored files, the strength byte, AE-1 with data descriptors.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "../unit/archive_support.h"
#include "../unit/temp_folder.h"
#include "engine/reader.h"

namespace korvane {
namespace {

using namespace test;

// Prefixing a temporary string makes GCC 12 warn falsely (-Wrestrict) in a
// Release build; a named string takes the other overload.
std::string quoted(const fs::path& p) {
    const std::string s = p.string();
    return "'" + s + "'";
}

int shell(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str());
}

// Nesting, an empty file, one-byte files (7zz stores those), a file over one
// block, incompressible data and an empty folder, each with its own time.
// bsdtar leaves empty files unencrypted, which we refuse, so its trees have none.
void make_source(const fs::path& root, bool empty_file) {
    write_bytes(root / "readme.txt", text(5000));
    if (empty_file) write_bytes(root / "empty.txt", "");
    write_bytes(root / "x", "x");
    write_bytes(root / "sub" / "noise.bin", noise(70000, 5));
    write_bytes(root / "sub" / "deeper" / "one", "1");
    write_bytes(root / "sub" / "deeper" / "text.txt", text(40000));
    fs::create_directories(root / "hollow");
    fs::create_directories(root / "sub" / "also empty");
    int minutes = 0;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file())
            fs::last_write_time(e.path(), fs::file_time_type::clock::now() -
                                              std::chrono::hours(24 * 40) -
                                              std::chrono::minutes(minutes += 17));
}

std::vector<std::string> folders(const fs::path& root) {
    std::vector<std::string> all;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_directory()) all.push_back(fs::relative(e.path(), root).generic_string());
    std::sort(all.begin(), all.end());
    return all;
}

void expect_same(const fs::path& expected, const fs::path& actual, const std::string& who) {
    EXPECT_EQ(tree(actual), tree(expected)) << who;
    EXPECT_EQ(folders(actual), folders(expected)) << who;
    for (const auto& [name, content] : tree(expected)) {
        if (!fs::exists(actual / name)) continue;
        const auto difference = fs::last_write_time(expected / name) - fs::last_write_time(actual / name);
        EXPECT_LE(std::chrono::abs(difference), std::chrono::seconds(2)) << who << ": " << name;
    }
}

class PeerArchives : public testing::Test {
protected:
    TempFolder temp;
    fs::path dir() { return temp.path(); }
};

TEST_F(PeerArchives, OpenByteForByteWithTimes) {
    make_source(dir() / "7zz" / "Tree", true);
    make_source(dir() / "bsdtar" / "Tree", false);
    const struct {
        const char* peer;
        const char* strength;
        std::size_t password_length;
    } cases[] = {
        {"7zz", "AES128", 10}, {"7zz", "AES192", 20}, {"7zz", "AES256", 12},
        {"7zz", "AES256", 60}, {"bsdtar", "aes128", 9}, {"bsdtar", "aes256", 15},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string password = std::string(c.password_length - 2, 'p') + "%1";
        const std::string label = std::string(c.peer) + " " + c.strength + ", password " +
                                  std::to_string(c.password_length);
        const fs::path archive = dir() / ("peer" + std::to_string(n) + ".zip");
        const fs::path source = dir() / c.peer / "Tree";
        const std::string command =
            std::string(c.peer) == "7zz"
                ? "7zz a -tzip -mem=" + std::string(c.strength) + " -p'" + password + "' " +
                      quoted(archive) + " Tree"
                : "bsdtar --format zip --options zip:encryption=" + std::string(c.strength) +
                      " --passphrase '" + password + "' -cf " + quoted(archive) + " Tree";
        ASSERT_EQ(shell("cd " + quoted(source.parent_path()) + " && " + command), 0) << label;

        const fs::path out = dir() / ("out" + std::to_string(n++));
        ASSERT_EQ(decrypt(archive, out, password), result_ok) << label;
        expect_same(source, out, label);
        EXPECT_EQ(decrypt(archive, dir() / "wrong", password + "?"), result_bad_password) << label;
    }
}

// Offset of the data of the entry with this name: its local header follows
// the name's first appearance after a local header signature.
std::size_t data_of(const std::string& archive, const std::string& name) {
    for (std::size_t at = archive.find("PK\x03\x04"); at != std::string::npos;
         at = archive.find("PK\x03\x04", at + 1)) {
        const auto* p = reinterpret_cast<const unsigned char*>(archive.data()) + at;
        if (archive.compare(at + 30, read_u16(p + 26), name) == 0 && read_u16(p + 26) == name.size())
            return at + 30 + read_u16(p + 26) + read_u16(p + 28);
    }
    return std::string::npos;
}

TEST_F(PeerArchives, DamagedAeOneEntryKeepsTheOlderFile) {
    write_bytes(dir() / "Tree" / "big.txt", text(60000));
    const fs::path archive = dir() / "b.zip";
    ASSERT_EQ(shell("cd " + quoted(dir()) +
                    " && bsdtar --format zip --options zip:encryption=aes256 --passphrase pw -cf " +
                    quoted(archive) + " Tree"),
              0);
    int ae1 = 0;
    ArchiveReader reader;
    ASSERT_EQ(reader.list_all(archive.string().c_str(), [&](const EntrySummary& e) {
        ae1 += e.name == "Tree/big.txt" && e.ae_version == 1 && e.strength == 3;
        return result_ok;
    }), result_ok);
    ASSERT_EQ(ae1, 1) << "bsdtar no longer writes AE-1 here";

    const std::string good = read_bytes(archive);
    const std::size_t data = data_of(good, "Tree/big.txt");
    ASSERT_NE(data, std::string::npos);
    for (std::size_t at : {data + 16 + 2, data + 500, data + 2000}) {
        std::string bad = good;
        bad[at] = static_cast<char>(bad[at] ^ 0x40);
        write_bytes(archive, bad);
        const fs::path out = dir() / "out";
        fs::remove_all(out);
        write_bytes(out / "big.txt", "older");
        const ResultCode r = decrypt(archive, out, "pw");
        EXPECT_TRUE(r == result_bad_data || r == result_expansion_error) << at << ": " << r;
        EXPECT_EQ(tree(out), (std::vector<std::pair<std::string, std::string>>{{"big.txt", "older"}}))
            << at;
    }
}

TEST_F(PeerArchives, UnencryptedFileEntryIsRefused) {
    write_bytes(dir() / "a.txt", "secret");
    write_bytes(dir() / "b.txt", "plain");
    const fs::path archive = dir() / "mixed.zip";
    ASSERT_EQ(shell("cd " + quoted(dir()) + " && 7zz a -tzip -mem=AES256 -ppw " + quoted(archive) +
                    " a.txt && 7zz a -tzip " + quoted(archive) + " b.txt"),
              0);
    const fs::path out = dir() / "out";
    EXPECT_EQ(decrypt(archive, out, "pw"), result_not_encrypted);
    EXPECT_EQ(tree(out), (std::vector<std::pair<std::string, std::string>>{{"a.txt", "secret"}}));
    const fs::path plain = dir() / "plain.zip";
    ASSERT_EQ(shell("cd " + quoted(dir()) + " && bsdtar --format zip -cf " + quoted(plain) + " b.txt"), 0);
    EXPECT_EQ(decrypt(plain, dir() / "out2", "pw"), result_not_encrypted);
    EXPECT_FALSE(fs::exists(dir() / "out2" / "b.txt"));
}

}  // namespace
}  // namespace korvane
