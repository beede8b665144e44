// Byte layout of the archives the writer produces.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include "archive/cipher/aes_enc.h"
#include "archive_support.h"
#include "temp_folder.h"

namespace korvane {
namespace {

using namespace test;

const unsigned char* bytes(const std::string& s, std::size_t at = 0) {
    return reinterpret_cast<const unsigned char*>(s.data()) + at;
}

class ArchiveLayout : public testing::Test {
  protected:
    TempFolder temp;
    fs::path dir() { return temp.path(); }
};

TEST_F(ArchiveLayout, OneFileArchiveHasEveryFieldInPlace) {
    write_bytes(dir() / "a.txt", text(1000));
    const fs::path archive = dir() / "one.cry";
    ASSERT_EQ(encrypt({(dir() / "a.txt").string()}, archive, "short password"), result_ok);
    const std::string a = read_bytes(archive);
    ASSERT_GE(a.size(), 150u);
    const std::size_t k = a.size() - 150;  // the encrypted deflate stream

    // Local header and extra field at 0.
    EXPECT_EQ(read_u32(bytes(a, 0)), local_header_signature);
    EXPECT_EQ(read_u16(bytes(a, 4)), 20);
    EXPECT_EQ(read_u16(bytes(a, 6)), 1);  // level 6
    EXPECT_EQ(read_u16(bytes(a, 8)), 99);
    EXPECT_EQ(read_u32(bytes(a, 14)), 0u);
    EXPECT_EQ(read_u32(bytes(a, 18)), k + 20);
    EXPECT_EQ(read_u32(bytes(a, 22)), 1000u);
    EXPECT_EQ(read_u16(bytes(a, 26)), 5);
    EXPECT_EQ(read_u16(bytes(a, 28)), 11);
    EXPECT_EQ(a.substr(30, 5), "a.txt");
    const std::string extra = a.substr(35, 11);
    EXPECT_EQ(extra, std::string("\x01\x99\x07\x00\x02\x00"
                                 "AE\x01\x08\x00",
                                 11));

    // Central record at 66 + k, end record at 128 + k.
    const std::size_t central = 66 + k;
    EXPECT_EQ(read_u32(bytes(a, central)), central_record_signature);
    EXPECT_EQ(read_u16(bytes(a, central + 4)), 20);
    EXPECT_EQ(read_u16(bytes(a, central + 6)), 20);
    EXPECT_EQ(read_u16(bytes(a, central + 8)), 1);
    EXPECT_EQ(read_u16(bytes(a, central + 10)), 99);
    EXPECT_EQ(a.substr(central + 12, 4), a.substr(10, 4));  // same time and date
    EXPECT_EQ(read_u32(bytes(a, central + 20)), k + 20);
    EXPECT_EQ(read_u32(bytes(a, central + 24)), 1000u);
    EXPECT_EQ(read_u16(bytes(a, central + 28)), 5);
    EXPECT_EQ(read_u16(bytes(a, central + 30)), 11);
    EXPECT_EQ(read_u16(bytes(a, central + 32)), 0);
    EXPECT_EQ(read_u32(bytes(a, central + 42)), 0u);
    EXPECT_EQ(a.substr(central + 46, 5), "a.txt");
    EXPECT_EQ(a.substr(central + 51, 11), extra);

    const std::size_t end = 128 + k;
    EXPECT_EQ(read_u32(bytes(a, end)), end_record_signature);
    EXPECT_EQ(read_u16(bytes(a, end + 8)), 1);
    EXPECT_EQ(read_u16(bytes(a, end + 10)), 1);
    EXPECT_EQ(read_u32(bytes(a, end + 12)), 62u);
    EXPECT_EQ(read_u32(bytes(a, end + 16)), central);
    EXPECT_EQ(read_u16(bytes(a, end + 20)), 0);
}

// A folder with nothing stored below it is an entry of its own, as every
// reader takes a folder: named with a '/', unencrypted, no data, no AE field.
// It comes back as a folder; a missing input adds nothing.
TEST_F(ArchiveLayout, EmptyFoldersAreEntriesOfTheirOwnAndMissingInputsFail) {
    fs::create_directories(dir() / "empty" / "nested");
    const fs::path archive = dir() / "empty.cry";
    ASSERT_EQ(encrypt({(dir() / "empty").string()}, archive, "pw"), result_ok);
    std::string a = read_bytes(archive);
    ASSERT_EQ(a.size(), 30 + 13 + 46 + 13 + 22u);
    // Time and date, and the attribute word, are the folder's own.
    EXPECT_EQ(a.substr(10, 4), a.substr(43 + 12, 4));
    EXPECT_EQ(read_u32(bytes(a, 43 + 38)) & 0x10, 0x10u);
    a.replace(10, 4, 4, '\0');
    a.replace(43 + 12, 4, 4, '\0');
    a.replace(43 + 38, 4, 4, '\0');
    const std::string name = "empty/nested/";
    const std::string expected =
        std::string("PK\x03\x04\x14\0\0\0\0\0", 10) + std::string(16, '\0') +
        std::string("\x0d\0\0\0", 4) + name + std::string("PK\x01\x02\x14\0\x14\0\0\0\0\0", 12) +
        std::string(16, '\0') + std::string("\x0d\0", 2) + std::string(16, '\0') + name +
        std::string("PK\x05\x06\0\0\0\0\x01\0\x01\0\x3b\0\0\0\x2b\0\0\0\0\0", 22);
    EXPECT_EQ(a, expected);
    // The one top folder is the destination, as for any archive.
    ASSERT_EQ(decrypt(archive, dir() / "out", "pw"), result_ok);
    EXPECT_TRUE(fs::is_directory(dir() / "out" / "nested"));
    EXPECT_TRUE(fs::is_empty(dir() / "out" / "nested"));

    // A named input that is gone leaves no archive, not one that holds nothing.
    EXPECT_EQ(encrypt({(dir() / "empty").string(), (dir() / "missing").string()},
                      dir() / "none.cry", "pw"),
              result_input_missing);
    EXPECT_FALSE(fs::exists(dir() / "none.cry"));
}

TEST_F(ArchiveLayout, SecondEntryFollowsTheFirstAndTheDirectoryFollowsTheLast) {
    write_bytes(dir() / "in" / "one.bin", noise(3000));
    write_bytes(dir() / "in" / "two.bin", noise(100, 7));
    const fs::path archive = dir() / "two.cry";
    ASSERT_EQ(encrypt({(dir() / "in" / "one.bin").string(), (dir() / "in" / "two.bin").string()},
                      archive, "pw"),
              result_ok);
    const std::string a = read_bytes(archive);
    const std::size_t second = 30 + 7 + 11 + read_u32(bytes(a, 18));
    ASSERT_EQ(read_u32(bytes(a, second)), local_header_signature);
    EXPECT_EQ(a.substr(second + 30, 7), "two.bin");
    const std::size_t central = second + 30 + 7 + 11 + read_u32(bytes(a, second + 18));
    ASSERT_EQ(read_u32(bytes(a, central)), central_record_signature);
    EXPECT_EQ(read_u32(bytes(a, central + 42)), 0u);
    EXPECT_EQ(read_u32(bytes(a, central + 46 + 7 + 11 + 42)), second);
    const std::size_t end = a.size() - 22;
    EXPECT_EQ(read_u32(bytes(a, end + 16)), central);
    EXPECT_EQ(read_u32(bytes(a, end + 12)), 2 * (46 + 7 + 11u));
    EXPECT_EQ(end, central + 2 * (46 + 7 + 11u));
}

TEST_F(ArchiveLayout, FlagsFollowTheLevel) {
    const struct {
        int level;
        std::uint16_t flags;
    } cases[] = {{0, 1}, {1, 7}, {2, 5}, {3, 1}, {6, 1}, {7, 1}, {8, 3}, {9, 3}};
    write_bytes(dir() / "f.txt", text(5000));
    for (const auto& c : cases) {
        const fs::path archive = dir() / ("level" + std::to_string(c.level) + ".cry");
        ASSERT_EQ(encrypt({(dir() / "f.txt").string()}, archive, "pw", c.level), result_ok);
        const std::string a = read_bytes(archive);
        EXPECT_EQ(read_u16(bytes(a, 6)), c.flags) << c.level;
        const std::size_t central = a.size() - 22 - (46 + 5 + 11);
        EXPECT_EQ(read_u16(bytes(a, central + 8)), c.flags) << c.level;
        // Even level 0 is a deflate stream, so the actual method says deflate.
        EXPECT_EQ(read_u16(bytes(a, 30 + 5 + 9)), 8) << c.level;
        const fs::path out = dir() / ("out" + std::to_string(c.level));
        EXPECT_EQ(decrypt(archive, out, "pw"), result_ok) << c.level;
        EXPECT_EQ(read_bytes(out / "f.txt"), text(5000)) << c.level;
    }
}

// Names the code page holds keep its bytes and a clear bit 11, so older
// readers see what they always saw; any other name is UTF-8 with bit 11, in
// both headers. Natively only ASCII counts as held.
TEST_F(ArchiveLayout, NamesOutsideTheCodePageAreUtf8WithBit11) {
#ifdef _WIN32
    ASSERT_EQ(GetACP(), 1252u);  // café is one byte per character only here
    const bool native = false;
#else
    const bool native = true;
#endif
    const struct {
        const char* name;
        std::string stored;
        bool utf8;
    } cases[] = {
        {"plain.txt", "plain.txt", false},
        {"caf\xC3\xA9.txt", native ? "caf\xC3\xA9.txt" : "caf\xE9.txt", native},
        {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt",
         true},
        {"emoji\xF0\x9F\x98\x80.txt", "emoji\xF0\x9F\x98\x80.txt", true},
    };
    for (const auto& c : cases) {
        const fs::path source = dir() / "in" / from_utf8(c.name);
        write_bytes(source, "content");
        const fs::path archive = dir() / "names.cry";
        fs::remove(archive);
        ASSERT_EQ(encrypt({utf8(source)}, archive, "pw"), result_ok) << c.name;
        const std::string a = read_bytes(archive);
        const std::size_t n = c.stored.size();
        ASSERT_EQ(read_u16(bytes(a, 26)), n) << c.name;
        EXPECT_EQ(a.substr(30, n), c.stored) << c.name;
        const std::uint16_t flags = c.utf8 ? 0x801 : 1;
        EXPECT_EQ(read_u16(bytes(a, 6)), flags) << c.name;
        const std::size_t central = a.size() - 22 - (46 + n + 11);
        EXPECT_EQ(a.substr(central + 46, n), c.stored) << c.name;
        EXPECT_EQ(read_u16(bytes(a, central + 8)), flags) << c.name;

        const fs::path out = dir() / "out";
        fs::remove_all(out);
        ASSERT_EQ(decrypt(archive, out, "pw"), result_ok) << c.name;
        EXPECT_EQ(tree(out),
                  (std::vector<std::pair<std::string, std::string>>{{c.name, "content"}}))
            << c.name;
        fs::remove(source);
    }
}

TEST_F(ArchiveLayout, PasswordLengthChoosesSaltAndStrength) {
    const struct {
        std::size_t length;
        int strength;
        std::size_t salt;
    } cases[] = {{1, 1, 8}, {31, 1, 8}, {32, 2, 12}, {47, 2, 12}, {48, 3, 16}, {63, 3, 16}};
    write_bytes(dir() / "x", "");
    for (const auto& c : cases) {
        const std::string password(c.length, 'p');
        const fs::path archive = dir() / ("pw" + std::to_string(c.length) + ".cry");
        ASSERT_EQ(encrypt({(dir() / "x").string()}, archive, password), result_ok);
        const std::string a = read_bytes(archive);
        EXPECT_EQ(static_cast<int>(a[30 + 1 + 8]), c.strength) << c.length;
        // An empty file still holds an encrypted (tiny) deflate stream.
        const std::uint32_t compressed = read_u32(bytes(a, 18));
        EXPECT_GT(compressed, c.salt + 12) << c.length;
        EXPECT_EQ(a.size(), 30 + 1 + 11 + compressed + 46 + 1 + 11 + 22) << c.length;
        EXPECT_EQ(read_u32(bytes(a, 22)), 0u);
        EXPECT_EQ(salt_length(key_strength(c.length)), c.salt);
        const fs::path out = dir() / ("out" + std::to_string(c.length));
        ASSERT_EQ(decrypt(archive, out, password), result_ok) << c.length;
        EXPECT_TRUE(fs::exists(out / "x"));
        EXPECT_EQ(fs::file_size(out / "x"), 0u);
    }
}

TEST_F(ArchiveLayout, BlockBoundarySizesRoundTrip) {
    for (std::size_t size : {block_size - 1, block_size, block_size + 1, 2 * block_size}) {
        const std::string content = noise(size, static_cast<std::uint32_t>(size));
        // Named: "b" + std::to_string(size) makes GCC 12 warn falsely (-Wrestrict) in Release.
        const std::string n = std::to_string(size);
        const fs::path source = dir() / ("b" + n);
        write_bytes(source, content);
        const fs::path archive = dir() / ("b" + n + ".cry");
        ASSERT_EQ(encrypt({source.string()}, archive, "pw", 0), result_ok);
        const fs::path out = dir() / ("o" + n);
        ASSERT_EQ(decrypt(archive, out, "pw"), result_ok) << size;
        EXPECT_EQ(read_bytes(out / source.filename()), content) << size;
    }
}

TEST_F(ArchiveLayout, CentralDirectoryGrowsPastItsFirstBlock) {
    const fs::path folder = dir() / "many";
    const std::string long_part(80, 'n');
    for (int i = 0; i < 300; ++i)
        write_bytes(folder / (long_part + std::to_string(i) + ".txt"), std::to_string(i));
    const fs::path archive = dir() / "many.cry";
    ASSERT_EQ(encrypt({folder.string()}, archive, "pw", 1), result_ok);
    const std::string a = read_bytes(archive);
    const std::size_t end = a.size() - 22;
    EXPECT_EQ(read_u16(bytes(a, end + 8)), 300);
    const std::uint32_t directory = read_u32(bytes(a, end + 12));
    EXPECT_GT(directory, block_size);
    EXPECT_EQ(read_u32(bytes(a, end + 16)) + directory, end);
    const fs::path out = dir() / "out";
    ASSERT_EQ(decrypt(archive, out, "pw"), result_ok);
    const auto files = tree(out);
    ASSERT_EQ(files.size(), 300u);  // one top folder: stripped on the way back
    EXPECT_EQ(read_bytes(out / (long_part + "299.txt")), "299");
}

// Archives whose values all fit 32 bits keep their layout, byte for byte:
// every byte outside the encrypted data (which the salt changes) is pinned,
// for one entry of one chunk, one of two chunks of noise (stored, 300000
// bytes in six stored blocks, and its header rewritten) and an empty one.
TEST_F(ArchiveLayout, SmallArchivesKeepTheirBytes) {
    const struct {
        const char* name;
        std::string content;
    } files[] = {{"a.txt", text(1000)}, {"b.bin", noise(300000)}, {"e", ""}};
    std::vector<std::string> inputs;
    for (const auto& f : files) {
        write_bytes(dir() / f.name, f.content);
        ASSERT_TRUE(platform::set_file_times(utf8(dir() / f.name).c_str(), {2020, 1, 2, 3, 4, 6}));
        inputs.push_back(utf8(dir() / f.name));
    }
    ASSERT_EQ(encrypt(inputs, dir() / "pinned.cry", "pw"), result_ok);
    const std::string a = read_bytes(dir() / "pinned.cry");
    std::string outside;
    std::size_t at = 0;
    for (std::size_t i = 0; i < std::size(files); ++i) {
        ASSERT_EQ(read_u32(bytes(a, at)), local_header_signature) << i;
        const std::size_t data =
            at + local_header_size + read_u16(bytes(a, at + 26)) + read_u16(bytes(a, at + 28));
        outside += a.substr(at, data - at);
        at = data + read_u32(bytes(a, at + 18));
    }
    outside += a.substr(at);
    const std::string pinned =
        "504b03041400010063008318225000000000aa000000e803000005000b00612e74787401990700020041450108"
        "00504b"
        "0304140001006300831822500000000012940400e093040005000b00622e62696e019907000200414501080050"
        "4b0304"
        "1400010063008318225000000000160000000000000001000b00650199070002004145010800504b0102140014"
        "000100"
        "63008318225000000000aa000000e803000005000b000000000000002000000000000000612e74787401990700"
        "020041"
        "45010800504b01021400140001006300831822500000000012940400e093040005000b00000000000000200000"
        "00d800"
        "0000622e62696e0199070002004145010800504b01021400140001006300831822500000000016000000000000"
        "000100"
        "0b000000000000002000000018950400650199070002004145010800504b05060000000003000300b600000058"
        "950400"
        "0000";
    std::string hex;
    for (unsigned char c : outside) {
        hex += "0123456789abcdef"[c >> 4];
        hex += "0123456789abcdef"[c & 15];
    }
    EXPECT_EQ(hex, pinned);
}

}  // namespace
}  // namespace korvane
