// Archives we write are opened by other archivers (7zz, bsdtar), and entries
// 7zz writes are decoded by us. The peers are black boxes run as commands.
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
std::string quote(const fs::path& p) {
    const std::string s = p.string();
    return "'" + s + "'";
}

int run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str());
}

// The source tree: nesting, empty files, a block-sized file, incompressible
// data, a name outside ASCII, a file of several chunks deflated apart (text,
// then noise, then text, so the chunks end in every kind of block and stored
// chunks lie between deflated ones), and a folder with nothing in it (which
// leaves no trace).
void make_tree(const fs::path& root) {
    write_bytes(root / "readme.txt", text(5000));
    write_bytes(root / "chunks.log", text(700000) + noise(600000, 5) + text(200000));
    write_bytes(root / "empty.txt", "");
    write_bytes(root / "block.bin", noise(block_size, 3));
    write_bytes(root / "sub" / "noise.bin", noise(100000, 4));
    write_bytes(root / "sub" / "deeper" / "empty2", "");
    write_bytes(root / "sub" / "deeper" / "text.txt", text(70000));
    // Stored as UTF-8 with bit 11, which both peers must honour.
    write_bytes(
        root / "sub" / from_utf8("\xE6\x97\xA5\xE6\x9C\xAC caf\xC3\xA9\xF0\x9F\x98\x80.txt"),
        text(300));
    fs::create_directories(root / "hollow");
}

void expect_same_files(const fs::path& expected, const fs::path& actual, const std::string& who) {
    EXPECT_EQ(tree(actual), tree(expected)) << who;
    // An empty folder is an entry of its own, which peers make too.
    EXPECT_TRUE(fs::is_directory(actual / "hollow")) << who;
    for (const auto& [name, content] : tree(expected)) {
        const auto want = fs::last_write_time(expected / name);
        const auto got = fs::last_write_time(actual / name);
        EXPECT_LE(std::chrono::abs(want - got), std::chrono::seconds(2)) << who << ": " << name;
    }
}

class Peers : public testing::Test {
  protected:
    TempFolder temp;
    fs::path dir() { return temp.path(); }
};

TEST_F(Peers, ExtractOurArchivesByteForByteWithTimes) {
    const fs::path source = dir() / "Tree";
    make_tree(source);
    const struct {
        std::size_t password_length;
        int level;
    } cases[] = {{12, 6}, {12, 0}, {20, 1}, {33, 2}, {40, 9}, {50, 6}, {63, 9}};
    for (const auto& c : cases) {
        const std::string password = std::string(c.password_length - 3, 'k') + "%5x";
        const std::string label =
            "password " + std::to_string(c.password_length) + ", level " + std::to_string(c.level);
        const fs::path archive = dir() / "tree.cry";
        fs::remove(archive);
        ASSERT_EQ(encrypt({source.string()}, archive, password, c.level), result_ok) << label;

        const fs::path by7z = dir() / "7z";
        fs::remove_all(by7z);
        ASSERT_EQ(run("7zz x -y -p'" + password + "' -o" + quote(by7z) + " " + quote(archive)), 0)
            << label;
        expect_same_files(source, by7z / "Tree", "7zz, " + label);

        const fs::path bytar = dir() / "bsdtar";
        fs::remove_all(bytar);
        fs::create_directories(bytar);
        // bsdtar writes flagged names in the locale's character set.
        ASSERT_EQ(run("LC_ALL=C.UTF-8 bsdtar -x --passphrase '" + password + "' -f " +
                      quote(archive) + " -C " + quote(bytar)),
                  0)
            << label;
        expect_same_files(source, bytar / "Tree", "bsdtar, " + label);
    }
}

// Finds the data of the first entry of a ZIP file and decodes it with ours.
ResultCode decode_first_entry(const fs::path& archive, const std::string& password,
                              const fs::path& output) {
    const std::string a = read_bytes(archive);
    if (a.size() < local_header_size) return result_not_encrypted;
    const auto* p = reinterpret_cast<const unsigned char*>(a.data());
    const std::size_t data = local_header_size + read_u16(p + 26) + read_u16(p + 28);
    FilePtr file(std::fopen(archive.string().c_str(), "rb"));
    if (!file || std::fseek(file.get(), static_cast<long>(data), SEEK_SET) != 0)
        return result_input_missing;
    ArchiveReader reader;
    reader.attach(std::move(file));
    JobCounters c;
    return reader.decode_entry(password.c_str(), output.string().c_str(), read_u32(p + 18),
                               c.processed, c.cancel);
}

TEST_F(Peers, WeDecodeEntriesThatSevenZipEncrypted) {
    write_bytes(dir() / "doc.txt", text(6000));
    const struct {
        const char* method;
        std::size_t password_length;
    } cases[] = {{"AES128", 10}, {"AES192", 40}, {"AES256", 55}};
    for (const auto& c : cases) {
        const std::string password(c.password_length, 'q');
        const fs::path archive = dir() / (std::string(c.method) + ".zip");
        ASSERT_EQ(run("cd " + quote(dir()) + " && 7zz a -tzip -mm=Deflate -mem=" + c.method +
                      " -p'" + password + "' " + quote(archive) + " doc.txt"),
                  0)
            << c.method;
        const fs::path out = dir() / (std::string(c.method) + ".out");
        ASSERT_EQ(decode_first_entry(archive, password, out), result_ok) << c.method;
        EXPECT_EQ(read_bytes(out), text(6000)) << c.method;
        EXPECT_EQ(decode_first_entry(archive, password + "x", out.string() + "2"),
                  result_bad_password)
            << c.method;
    }
}

}  // namespace
}  // namespace korvane
