// Archives laid out the way other tools write them: folder entries,
// unencrypted entries, AE-1 with its CRC, stored data, the strength byte
// deciding the key size, and data descriptors that hide the sizes from the
// local headers.
#include <gtest/gtest.h>
#include <zlib.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <map>

#include "archive/cipher/aes_enc.h"
#include "archive/paths.h"
#include "archive_support.h"
#include "platform/platform.h"
#include "temp_folder.h"

namespace korvane {
namespace {

using namespace test;

constexpr const char* short_password = "short pw";  // 8 bytes: AES-128 by its length

struct Entry {
    std::string name;
    std::string data;
    bool encrypted = true;
    int strength = 3;              // the key actually used
    int ae_version = 2;            // 0: no AE field at all
    std::uint16_t method = 8;      // the actual method: 0 stored, 8 deflate
    bool descriptor = false;       // sizes and CRC after the data, zeros in the local header
    std::uint32_t crc_error = 0;   // added to the CRC in the headers
    std::uint32_t size_error = 0;  // added to the uncompressed size in the headers
    bool claims_stored = false;    // the AE field says stored whatever the data is
    bool zip64 = false;  // sizes (and the directory's offset) in ZIP64 fields, markers in place
    std::string after_stream = {};  // inside the entry's data, after the deflate stream's end
};

void u16(std::string& s, std::uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
void u32(std::string& s, std::uint32_t v) {
    u16(s, v & 0xFFFF);
    u16(s, v >> 16);
}
void u64(std::string& s, std::uint64_t v) {
    u32(s, static_cast<std::uint32_t>(v));
    u32(s, static_cast<std::uint32_t>(v >> 32));
}

constexpr platform::DosTime entry_time{0x5A8F, 0x3A6F};  // 2009-03-15 11:20:30

// zip64_end adds the ZIP64 end record and locator, as some tools do even
// when every value fits.
std::string peer_archive(const std::vector<Entry>& entries, const std::string& password,
                         bool zip64_end = false) {
    std::string archive, directory;
    for (const Entry& e : entries) {
        std::string payload = e.method == 8 ? raw_deflate(e.data) + e.after_stream : e.data;
        if (e.encrypted) {
            CAesEnc aes;
            unsigned char salt[16], verifier[verifier_length], code[auth_code_length];
            aes.encrypt_start(reinterpret_cast<const unsigned char*>(password.c_str()), salt,
                              verifier, e.strength);
            aes.encrypt(reinterpret_cast<unsigned char*>(payload.data()),
                        static_cast<unsigned int>(payload.size()));
            aes.encrypt_end(code);
            EXPECT_TRUE(aes.ok());
            payload = std::string(reinterpret_cast<char*>(salt), salt_length(e.strength)) +
                      std::string(reinterpret_cast<char*>(verifier), verifier_length) + payload +
                      std::string(reinterpret_cast<char*>(code), auth_code_length);
        }
        const std::uint32_t real_crc = static_cast<std::uint32_t>(crc32(
            0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
        const std::uint32_t crc = (e.ae_version == 2 ? 0 : real_crc) + e.crc_error;
        std::string extra;
        if (e.encrypted && e.ae_version) {
            u16(extra, 0x9901);
            u16(extra, 7);
            u16(extra, static_cast<std::uint32_t>(e.ae_version));
            extra += "AE";
            extra += static_cast<char>(e.strength);
            u16(extra, e.claims_stored ? 0 : e.method);
        }
        const std::uint16_t flags = (e.encrypted ? 1 : 0) | (e.descriptor ? 8 : 0);
        const std::uint16_t method = e.encrypted ? 99 : e.method;
        const auto size = static_cast<std::uint32_t>(e.data.size()) + e.size_error;
        const auto offset = static_cast<std::uint32_t>(archive.size());
        std::string local_extra = extra, central_extra = extra;
        if (e.zip64) {
            // A descriptor leaves the local values zero.
            const std::uint64_t local_size = e.descriptor ? 0 : size;
            const std::uint64_t local_compressed = e.descriptor ? 0 : payload.size();
            std::string field;
            u16(field, 1);
            u16(field, 16);
            u64(field, local_size);
            u64(field, local_compressed);
            local_extra = field + extra;
            field.clear();
            u16(field, 1);
            u16(field, 24);
            u64(field, size);
            u64(field, payload.size());
            u64(field, offset);
            central_extra = field + extra;
        }
        auto common = [&](std::string& s, bool local) {
            u16(s, 51);
            u16(s, flags);
            u16(s, method);
            u16(s, entry_time.time);
            u16(s, entry_time.date);
            const bool hidden = local && e.descriptor;
            u32(s, hidden ? 0 : crc);
            u32(s, e.zip64 ? 0xFFFFFFFF : hidden ? 0 : static_cast<std::uint32_t>(payload.size()));
            u32(s, e.zip64 ? 0xFFFFFFFF : hidden ? 0 : size);
            u16(s, static_cast<std::uint32_t>(e.name.size()));
            u16(s, static_cast<std::uint32_t>((local ? local_extra : central_extra).size()));
        };
        u32(archive, local_header_signature);
        common(archive, true);
        archive += e.name + local_extra + payload;
        if (e.descriptor) {
            u32(archive, 0x08074B50);
            u32(archive, crc);
            u32(archive, static_cast<std::uint32_t>(payload.size()));
            u32(archive, size);
        }
        u32(directory, central_record_signature);
        u16(directory, 51);
        common(directory, false);
        u16(directory, 0);
        u16(directory, 0);
        u16(directory, 0);
        u32(directory, 0);
        u32(directory, e.zip64 ? 0xFFFFFFFF : offset);
        directory += e.name + central_extra;
    }
    const auto directory_offset = static_cast<std::uint32_t>(archive.size());
    archive += directory;
    if (zip64_end) {
        const std::uint64_t end64 = archive.size();
        u32(archive, zip64_end_record_signature);
        u64(archive, 44);
        u16(archive, 45);
        u16(archive, 45);
        u32(archive, 0);
        u32(archive, 0);
        u64(archive, entries.size());
        u64(archive, entries.size());
        u64(archive, directory.size());
        u64(archive, directory_offset);
        u32(archive, zip64_locator_signature);
        u32(archive, 0);
        u64(archive, end64);
        u32(archive, 1);
    }
    u32(archive, end_record_signature);
    u32(archive, 0);
    u16(archive, static_cast<std::uint32_t>(entries.size()));
    u16(archive, static_cast<std::uint32_t>(entries.size()));
    u32(archive, static_cast<std::uint32_t>(directory.size()));
    u32(archive, directory_offset);
    u16(archive, 0);
    return archive;
}

using Files = std::vector<std::pair<std::string, std::string>>;

class PeerEntries : public testing::Test {
  protected:
    TempFolder temp;
    fs::path dir() { return temp.path(); }
    fs::path write_archive(const std::vector<Entry>& entries,
                           const std::string& password = short_password) {
        const fs::path archive = dir() / "peer.zip";
        write_bytes(archive, peer_archive(entries, password));
        return archive;
    }
};

TEST_F(PeerEntries, EntriesOfEveryLayoutExtract) {
    const std::string big = noise(40000, 7) + text(30000);
    const struct {
        const char* why;
        Entry entry;
    } cases[] = {
        {"AES-256 chosen by the strength byte, short password", {"f.bin", big, true, 3, 2, 8}},
        {"AES-192, stored", {"f.bin", big, true, 2, 2, 0}},
        {"AE-1 with its CRC", {"f.bin", big, true, 1, 1, 8}},
        {"AE-1 stored with a data descriptor", {"f.bin", big, true, 3, 1, 0, true}},
        {"AE-2 with a data descriptor", {"f.bin", big, true, 2, 2, 8, true}},
        {"no AE field: the password's length decides", {"f.bin", big, true, 1, 0, 8}},
        {"empty stored file", {"f.bin", "", true, 3, 1, 0, true}},
        {"ZIP64 sizes and offset", {"f.bin", big, true, 3, 2, 8, false, 0, 0, false, true}},
        {"ZIP64 behind a data descriptor", {"f.bin", big, true, 1, 1, 0, true, 0, 0, false, true}},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::vector<Entry> entries{c.entry,
                                         {"g.txt", "second", true, 1, 2, 0, c.entry.descriptor}};
        const fs::path archive = dir() / "peer.zip";
        write_bytes(archive, peer_archive(entries, short_password, c.entry.zip64));
        const fs::path out = dir() / ("out" + std::to_string(n++));
        ASSERT_EQ(decrypt(archive, out, short_password), result_ok) << c.why;
        EXPECT_EQ(tree(out), (Files{{"f.bin", c.entry.data}, {"g.txt", "second"}})) << c.why;
        EXPECT_EQ(decrypt(archive, dir() / "wrong", "another pw"), result_bad_password) << c.why;
    }
}

TEST_F(PeerEntries, RefusalsKeepTheOlderFile) {
    const Entry good{"a.txt", "first file"};
    const struct {
        const char* why;
        Entry entry;
        ResultCode expected;
    } cases[] = {
        {"unencrypted file", {"b.txt", "plain", false, 0, 0, 0}, result_not_encrypted},
        {"unencrypted deflated file", {"b.txt", "plain", false, 0, 0, 8}, result_not_encrypted},
        {"unencrypted empty file", {"b.txt", "", false, 0, 0, 0}, result_not_encrypted},
        {"AE-1 CRC mismatch", {"b.txt", text(5000), true, 1, 1, 8, false, 1}, result_bad_data},
        {"AE-1 stored CRC mismatch, descriptor",
         {"b.txt", "abc", true, 3, 1, 0, true, 0x100},
         result_bad_data},
        {"unknown actual method", {"b.txt", "abc", true, 3, 2, 12}, result_expansion_error},
        // The declared size is checked even where no CRC covers the data.
        {"inflates past its size",
         {"b.txt", text(40000), true, 3, 2, 8, false, 0, ~0u},
         result_expansion_error},
        {"inflates short of its size",
         {"b.txt", text(40000), true, 3, 2, 8, false, 0, 1},
         result_expansion_error},
        {"empty entry that inflates to a byte",
         {"b.txt", "x", true, 3, 2, 8, false, 0, ~0u},
         result_expansion_error},
        {"stored data past its size",
         {"b.txt", "abc", true, 3, 2, 0, false, 0, ~0u},
         result_expansion_error},
        {"stored data short of its size",
         {"b.txt", "abc", true, 3, 2, 0, false, 0, 1},
         result_expansion_error},
        {"directory's size behind a descriptor",
         {"b.txt", text(3000), true, 3, 2, 8, true, 0, 5},
         result_expansion_error},
        {"deflate blocks claimed as stored data",
         {"b.txt", noise(3000), true, 3, 2, 8, false, 0, 0, true},
         result_expansion_error},
        {"data after the deflate stream's end",
         {"b.txt", text(3000), true, 3, 2, 8, false, 0, 0, false, false, "more"},
         result_expansion_error},
        {"a deflate stream after the first one",
         {"b.txt", text(3000), true, 3, 2, 8, false, 0, 0, false, false, raw_deflate("x")},
         result_expansion_error},
        {"folder entry leaving the destination", {"../up/", "", false, 0, 0, 0}, result_bad_path},
        {"encrypted entry named as a folder", {"b/", "", true, 1, 2, 8}, result_bad_path},
#ifdef _WIN32
        // Making "dir " makes "dir", and "dir \b.txt" then cannot be opened.
        {"folder the path layer cannot make", {"dir /b.txt", "x", true, 1, 2, 0}, result_bad_path},
        {"folder with two trailing dots", {"dir../b.txt", "x", true, 1, 2, 0}, result_bad_path},
#endif
    };
    for (const auto& c : cases) {
        const fs::path archive = write_archive({good, c.entry});
        const fs::path out = dir() / "out";
        fs::remove_all(out);
        write_bytes(out / "b.txt", "older");
        EXPECT_EQ(decrypt(archive, out, short_password), c.expected) << c.why;
        EXPECT_EQ(tree(out), (Files{{"a.txt", "first file"}, {"b.txt", "older"}})) << c.why;
        EXPECT_FALSE(fs::exists(dir() / "up")) << c.why;
        EXPECT_FALSE(fs::exists(out / "dir")) << c.why;
        // Alone, into a destination it would make: nothing is left, the
        // destination included.
        const fs::path fresh = dir() / "fresh" / "out";
        EXPECT_EQ(decrypt(write_archive({c.entry}), fresh, short_password), c.expected) << c.why;
        EXPECT_FALSE(fs::exists(dir() / "fresh")) << c.why;
    }
}

TEST_F(PeerEntries, FolderEntriesCreateFoldersUnderTheDestination) {
    const struct {
        const char* why;
        std::vector<std::string> folders;
        std::vector<std::string> expected;  // relative to the destination
    } cases[] = {
        {"one top level, dropped",
         {"Top/", "Top/empty/", "Top/sub/deeper/"},
         {"empty", "sub", "sub/deeper"}},
        {"two top levels", {"A/", "B/inner/"}, {"A", "B", "B/inner"}},
    };
    int n = 0;
    for (const auto& c : cases) {
        std::vector<Entry> entries;
        for (const auto& f : c.folders) entries.push_back({f, "", false, 0, 0, 0});
        entries.push_back({c.folders[0] + "file.txt", "content", true, 3, 1, 0, true});
        const fs::path archive = write_archive(entries);
        const fs::path out = dir() / ("out" + std::to_string(n++));
        ASSERT_EQ(decrypt(archive, out, short_password), result_ok) << c.why;
        std::vector<std::string> folders;
        for (const auto& e : fs::recursive_directory_iterator(out))
            if (e.is_directory()) folders.push_back(fs::relative(e.path(), out).generic_string());
        std::sort(folders.begin(), folders.end());
        EXPECT_EQ(folders, c.expected) << c.why;
        // The folders carry no password check: the file's, failing, makes none.
        EXPECT_EQ(decrypt(archive, dir() / "wrong", "another pw"), result_bad_password) << c.why;
        EXPECT_FALSE(fs::exists(dir() / "wrong")) << c.why;
    }
    // A file where the folder should go.
    const fs::path archive =
        write_archive({{"x/", "", false, 0, 0, 0}, {"y.txt", "y", true, 1, 2, 0}});
    write_bytes(dir() / "blocked" / "x", "a file");
    EXPECT_EQ(decrypt(archive, dir() / "blocked", short_password), result_folder_failed);
}

// Entries that the file system takes for one path, or for a file where a
// folder goes, either way round: with any number of threads the destination
// and the code are what one thread, entry by entry, leaves. The earlier entry
// is the large one, so that threads racing ahead of it would show. A later
// file never replaces an earlier entry's: it fails with 12, naming that one.
TEST_F(PeerEntries, SpellingsOfOnePathEndAsOneThreadLeavesThem) {
    // Contents shown short, so a failure does not print the large one.
    auto brief = [](const std::string& content) {
        return content.size() <= 16 ? content
                                    : std::to_string(content.size()) + " bytes, hash " +
                                          std::to_string(std::hash<std::string>{}(content));
    };
    auto left_in = [&](const fs::path& out) {
        std::map<std::string, std::string> left = snapshot(out);
        for (auto& [name, content] : left) content = brief(content);
        return left;
    };
    const std::string data = noise(700000, 3), large = brief(data);
#ifdef _WIN32
    // The short name the file system gives a long one, learnt from a file of
    // that name: Windows numbers it (ALONGF~1.TXT), Wine puts a hash of
    // letters and digits after the '~'.
    const std::string long_name = "a long file name.txt";
    write_bytes(dir() / "probe" / long_name, "");
    wchar_t short_path[MAX_PATH];
    ASSERT_GT(
        GetShortPathNameW((dir() / "probe" / long_name).wstring().c_str(), short_path, MAX_PATH),
        0u);
    const std::string short_name = utf8(fs::path(short_path).filename());
    ASSERT_NE(short_name, long_name);
    fs::remove_all(dir() / "probe");
#endif
    const Entry folder_d{"t/d/", "", false, 0, 0, 0};
    const Entry damaged{"t/bad", text(5000), true, 1, 1, 8, false, 1};  // AE-1, wrong CRC
    const struct {
        const char* why;
        std::vector<Entry> entries;
        ResultCode one_thread;
        std::map<std::string, std::string> left;
        std::string same_as = {};  // the earlier entry the failure names
    } cases[] = {
        {"a/b, then a//b",
         {{"t/a/b", data}, {"t/a//b", "YYYY"}},
         result_folder_failed,
         {{"a", "<folder>"}, {"a/b", large}},
         "t/a/b"},
        {"a/b, a damaged entry, then a//b",
         {{"t/a/b", data}, damaged, {"t/a//b", "YYYY"}},
         result_bad_data,
         {{"a", "<folder>"}, {"a/b", large}}},
        {"file a, then a/b",
         {{"t/a", data}, {"t/a/b", "YYYY"}},
         result_folder_failed,
         {{"a", large}}},
        {"a/b, then file a",
         {{"t/a/b", data}, {"t/a", "YYYY"}},
         result_open_output_failed,
         {{"a", "<folder>"}, {"a/b", large}}},
        {"folder entry d/, then file d",
         {folder_d, {"t/d", "YYYY"}},
         result_open_output_failed,
         {{"d", "<folder>"}}},
        {"file d, then folder entry d/",
         {{"t/d", data}, folder_d},
         result_folder_failed,
         {{"d", large}}},
#ifdef _WIN32
        {"A.TXT, then a.txt",
         {{"t/A.TXT", data}, {"t/a.txt", "YYYY"}},
         result_folder_failed,
         {{"A.TXT", large}},
         "t/A.TXT"},
        // Names without the UTF-8 flag, read in code page 1252.
        {"\xC4.txt, then \xE4.txt",
         {{"t/\xC4.txt", data}, {"t/\xE4.txt", "YYYY"}},
         result_folder_failed,
         {{"\xC3\x84.txt", large}},
         "t/\xC3\x84.txt"},
        {"a.txt, then a.txt.",
         {{"t/a.txt", data}, {"t/a.txt.", "YYYY"}},
         result_bad_path,
         {{"a.txt", large}}},
        {"a\\b, then A/B",
         {{"t/a\\b", data}, {"t/A/B", "YYYY"}},
         result_folder_failed,
         {{"a", "<folder>"}, {"a/b", large}},
         "t/a\\b"},
        {"file A, then a/b",
         {{"t/A", data}, {"t/a/b", "YYYY"}},
         result_folder_failed,
         {{"A", large}}},
        {"a long name, then its short name",
         {{"t/" + long_name, data}, {"t/" + short_name, "YYYY"}},
         result_folder_failed,
         {{long_name, large}},
         "t/" + long_name},
#else
        // Bytes name files here: both are restored.
        {"A.TXT, then a.txt",
         {{"t/A.TXT", data}, {"t/a.txt", "YYYY"}},
         result_ok,
         {{"A.TXT", large}, {"a.txt", "YYYY"}}},
#endif
    };
    for (const auto& c : cases) {
        const fs::path archive = write_archive(c.entries);
        ResultCode reference = -1;
        std::map<std::string, std::string> reference_left;
        for (const int workers : {1, 8, 8, 8, 8, 8}) {
            const fs::path out = dir() / "out";
            fs::remove_all(out);
            ArchiveReader reader;
            reader.set_workers(workers);
            JobCounters counters;
            const ResultCode r =
                reader.extract_all(utf8(archive).c_str(), utf8(out).c_str(), short_password,
                                   counters.processed, counters.cancel);
            if (workers == 1) {
                reference = r;
                reference_left = left_in(out);
                EXPECT_EQ(r, c.one_thread) << c.why;
                EXPECT_EQ(reference_left, c.left) << c.why;
                if (!c.same_as.empty()) {
                    EXPECT_EQ(reader.fault().reason,
                              "names the same file here as entry '" + c.same_as + "'")
                        << c.why;
                }
                continue;
            }
            EXPECT_EQ(r, reference) << c.why;
            EXPECT_EQ(left_in(out), reference_left) << c.why;
        }
    }
}

TEST_F(PeerEntries, DescriptorArchivesNeedAnIntactDirectory) {
    const std::string good = peer_archive(
        {{"a.txt", "aaa", true, 3, 1, 0, true}, {"b.txt", text(3000), true, 1, 2, 8, true}},
        short_password);
    const std::size_t end = good.size() - end_record_size;
    const std::size_t second_local = good.find(std::string("PK\x03\x04", 4), 4);
    const struct {
        const char* why;
        std::size_t at;
        unsigned char value;
    } cases[] = {
        {"entry count", end + 10, 3},
        {"directory size", end + 12, 0},
        {"directory offset", end + 16, 1},
        {"disk number", end + 4, 1},
        {"local name length", second_local + 26, 4},
        {"local signature", second_local + 1, 'X'},
    };
    for (const auto& c : cases) {
        std::string bad = good;
        bad[c.at] = static_cast<char>(c.value);
        write_bytes(dir() / "bad.zip", bad);
        const fs::path out = dir() / "out";
        fs::remove_all(out);
        const ResultCode r = decrypt(dir() / "bad.zip", out, short_password);
        EXPECT_EQ(r, result_not_encrypted) << c.why;
        // Damage in the directory or its end record stops it before any entry.
        if (c.at >= end) {
            EXPECT_FALSE(fs::exists(out)) << c.why;
        }
    }
    // A comment after the end record is fine; bytes after the comment are not.
    std::string commented = good;
    commented[commented.size() - 2] = 4;
    write_bytes(dir() / "c.zip", commented + "note");
    EXPECT_EQ(decrypt(dir() / "c.zip", dir() / "c", short_password), result_ok);
    write_bytes(dir() / "c.zip", commented + "note!");
    EXPECT_EQ(decrypt(dir() / "c.zip", dir() / "d", short_password), result_not_encrypted);
}

// ZIP64 values are 64-bit: each is checked against the file's length and
// the others, with no sum that could wrap, whether the local headers are
// walked or only the directory can be read.
TEST_F(PeerEntries, Zip64ValuesMustFitTheFile) {
    auto archive = [](bool descriptor) {
        return peer_archive({{"a.txt", "aaa", true, 3, 1, 0, descriptor, 0, 0, false, true},
                             {"b.txt", text(3000), true, 1, 2, 8, descriptor, 0, 0, false, true}},
                            short_password, true);
    };
    const std::string described = archive(true), walked = archive(false);
    const std::string central = std::string("PK\x01\x02", 4), local = std::string("PK\x03\x04", 4);
    // The second entry's ZIP64 fields: after its 5-byte name.
    const std::size_t central_field = described.find(central, described.find(central) + 4) + 46 + 5;
    const std::size_t local_field = walked.find(local, 4) + 30 + 5;
    const std::size_t end64 = described.find(std::string("PK\x06\x06", 4));
    const std::size_t locator = described.find(std::string("PK\x06\x07", 4));
    const std::string all_ones(8, '\xFF');
    const struct {
        const char* why;
        bool descriptor;
        std::size_t at;
        std::string bytes;
    } cases[] = {
        {"entry count past what the directory holds", true, end64 + 24, all_ones + all_ones},
        {"entry count one more", true, end64 + 32, std::string("\x03", 1)},
        {"directory offset", true, end64 + 48, std::string("\x01", 1)},
        {"directory size past the file", true, end64 + 47, std::string("\x80", 1)},
        {"ZIP64 end record size", true, end64 + 4, std::string("\x2D", 1)},
        {"locator past the file", true, locator + 15, std::string("\x7F", 1)},
        {"locator's disk", true, locator + 4, std::string("\x01", 1)},
        {"compressed size past the file", true, central_field + 4 + 15, std::string("\x01", 1)},
        {"offset past the file", true, central_field + 4 + 23, std::string("\x80", 1)},
        {"marker without its ZIP64 field", true, central_field, std::string("\x02", 1)},
        {"ZIP64 field too short", true, central_field + 2, std::string("\x10", 1)},
        {"local compressed size past the file", false, local_field + 4 + 15,
         std::string("\x80", 1)},
        {"local compressed size that wraps", false, local_field + 4 + 8, all_ones},
    };
    ASSERT_NE(end64, std::string::npos);
    ASSERT_NE(locator, std::string::npos);
    for (const auto& c : cases) {
        std::string bad = c.descriptor ? described : walked;
        ASSERT_LE(c.at + c.bytes.size(), bad.size()) << c.why;
        bad.replace(c.at, c.bytes.size(), c.bytes);
        write_bytes(dir() / "bad.zip", bad);
        const fs::path out = dir() / "out";
        fs::remove_all(out);
        EXPECT_EQ(decrypt(dir() / "bad.zip", out, short_password), result_not_encrypted) << c.why;
        // A damaged directory stops it before any entry.
        if (c.descriptor) {
            EXPECT_FALSE(fs::exists(out)) << c.why;
        }
    }
    for (const bool descriptor : {false, true}) {
        write_bytes(dir() / "good.zip", archive(descriptor));
        const fs::path out = dir() / ("good" + std::to_string(descriptor));
        ASSERT_EQ(decrypt(dir() / "good.zip", out, short_password), result_ok) << descriptor;
        EXPECT_EQ(tree(out), (Files{{"a.txt", "aaa"}, {"b.txt", text(3000)}})) << descriptor;
    }
}

// Directories whose records contradict each other, or whose entries share
// bytes or claim sizes their data cannot have: refused before anything is
// extracted, with the entry at fault named where there is one.
TEST_F(PeerEntries, DirectoriesThatContradictThemselvesExtractNothing) {
    const std::string pk12("PK\x01\x02", 4), pk66("PK\x06\x06", 4), pk67("PK\x06\x07", 4);
    // The k-th central record.
    auto central = [&](const std::string& a, int k) {
        std::size_t at = a.find(pk12);
        while (k-- > 0) at = a.find(pk12, at + 4);
        return at;
    };
    auto set = [](std::string& a, std::size_t at, std::uint64_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) a[at + i] = static_cast<char>(v >> (8 * i));
    };
    auto get = [](const std::string& a, std::size_t at, int bytes) {
        std::uint64_t v = 0;
        for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(a[at + i]);
        return v;
    };
    // Drops the second central record and makes every size and offset of
    // the end records fit what is left; the counts stay.
    auto drop_second_record = [&](std::string a) {
        const std::size_t from = central(a, 1), length = central(a, 2) - from;
        a.erase(from, length);
        const std::size_t end = a.size() - end_record_size;
        set(a, end + 12, get(a, end + 12, 4) - length, 4);
        const std::size_t end64 = a.find(pk66), locator = a.find(pk67);
        if (end64 != std::string::npos) {
            set(a, end64 + 40, get(a, end64 + 40, 8) - length, 8);
            set(a, locator + 8, get(a, locator + 8, 8) - length, 8);
        }
        return a;
    };
    const std::string big = text(3000);
    const std::vector<Entry> three{{"t/a.txt", "aaa"}, {"t/b.txt", big}, {"t/c.txt", "ccc"}};
    const std::string classic = peer_archive(three, short_password);
    const std::string with_zip64_end = peer_archive(three, short_password, true);
    std::vector<Entry> large{{"t/a.txt", big}, {"t/b.txt", big}};
    for (Entry& e : large) e.zip64 = true;
    const std::string zip64_sizes = peer_archive(large, short_password, true);
    // Where the second entry's ZIP64 fields hold its uncompressed size.
    const std::size_t local_size = zip64_sizes.find("t/b.txt") + 7 + 4;
    const std::size_t central_size = central(zip64_sizes, 1) + central_record_size + 7 + 4;
    const std::uint64_t five_gib = std::uint64_t{5} << 30;

    const struct {
        const char* why;
        std::string archive;
        const char* entry;  // the entry named as at fault; "" the directory
    } cases[] = {
        {"a central record missing, still counted", drop_second_record(classic), ""},
        {"a central record missing, still counted in ZIP64", drop_second_record(with_zip64_end),
         ""},
        {"a ZIP64 end record signature after the first central record",
         [&] {
             std::string a = classic;
             a.replace(central(a, 1), 4, pk66);
             return a;
         }(),
         ""},
        {"end records that disagree: 3 entries, and 2 from the second record",
         [&] {
             std::string a = with_zip64_end;
             const std::size_t end64 = a.find(pk66), second = central(a, 1);
             set(a, end64 + 24, 2, 8);
             set(a, end64 + 32, 2, 8);
             set(a, end64 + 40, end64 - second, 8);
             set(a, end64 + 48, second, 8);
             return a;
         }(),
         ""},
        {"two central records for one entry's bytes",
         [&] {
             std::string a = peer_archive({{"t/a.txt", big}, {"t/a.txt", big}}, short_password);
             set(a, central(a, 1) + 42, 0, 4);
             return a;
         }(),
         "t/a.txt"},
        {"5 GiB in the directory's ZIP64 field only",
         [&] {
             std::string a = zip64_sizes;
             set(a, central_size, five_gib, 8);
             return a;
         }(),
         "t/b.txt"},
        {"a byte more in the directory than in the local header",
         [&] {
             std::string a = zip64_sizes;
             set(a, central_size, big.size() + 1, 8);
             return a;
         }(),
         "t/b.txt"},
        {"5 GiB in both ZIP64 fields for 3000 bytes",
         [&] {
             std::string a = zip64_sizes;
             set(a, central_size, five_gib, 8);
             set(a, local_size, five_gib, 8);
             return a;
         }(),
         "t/b.txt"},
        {"another name in the directory than in the local header",
         [&] {
             std::string a =
                 peer_archive({{"top/x.txt", "one"}, {"top/y.txt", "two"}}, short_password);
             a.replace(central(a, 1) + central_record_size, 9, "evl/y.txt");
             return a;
         }(),
         "evl/y.txt"},
    };
    ASSERT_EQ(zip64_sizes.compare(local_size - 11, 7, "t/b.txt"), 0);
    ASSERT_EQ(get(zip64_sizes, local_size, 8), big.size());
    ASSERT_EQ(get(zip64_sizes, central_size, 8), big.size());
    for (const auto& c : cases) {
        write_bytes(dir() / "lies.zip", c.archive);
        const fs::path out = dir() / "out";
        fs::remove_all(out);
        JobCounters counters;
        CryptJob job = counters.job({utf8(dir() / "lies.zip")}, utf8(out), short_password);
        EXPECT_EQ(decrypt_worker(job), result_not_encrypted) << c.why;
        EXPECT_FALSE(fs::exists(out)) << c.why;
        EXPECT_EQ(job.fault.entry, c.entry) << c.why;
        EXPECT_FALSE(job.fault.reason.empty()) << c.why;
        ArchiveReader reader;
        EXPECT_EQ(reader.test_all(utf8(dir() / "lies.zip").c_str(), short_password,
                                  counters.processed, counters.cancel),
                  result_not_encrypted)
            << c.why;
    }
}

TEST_F(PeerEntries, TimesAreRestoredFromDescriptorArchives) {
    const fs::path archive = write_archive({{"dated.txt", "dated", true, 2, 1, 8, true}});
    ASSERT_EQ(decrypt(archive, dir() / "out", short_password), result_ok);
    platform::FindData found;
    ASSERT_TRUE(platform::find_path((dir() / "out" / "dated.txt").string().c_str(), found));
    const platform::LocalTime t = platform::to_local_time(found.last_write);
    EXPECT_EQ(std::vector<int>({t.year, t.month, t.day, t.hour, t.minute, t.second}),
              std::vector<int>({2009, 3, 15, 11, 20, 30}));
}

TEST_F(PeerEntries, ListingShowsMethodAndVersion) {
    const fs::path archive = write_archive({{"Top/", "", false, 0, 0, 0},
                                            {"Top/s.bin", "stored", true, 3, 1, 0, true},
                                            {"Top/d.txt", text(900), true, 2, 2, 8, true}});
    std::vector<std::tuple<std::string, bool, int, int, int>> got;
    ArchiveReader reader;
    ASSERT_EQ(reader.list_all(archive.string().c_str(),
                              [&](const EntrySummary& e) {
                                  got.emplace_back(e.name, e.encrypted, e.method, e.ae_version,
                                                   e.strength);
                                  return result_ok;
                              }),
              result_ok);
    EXPECT_EQ(
        got,
        (std::vector<std::tuple<std::string, bool, int, int, int>>{
            {"Top/", false, 0, 0, 0}, {"Top/s.bin", true, 0, 1, 3}, {"Top/d.txt", true, 8, 2, 2}}));
}

TEST(AesStrength, ExplicitStrengthOverridesThePasswordLength) {
    const auto* pw = reinterpret_cast<const unsigned char*>(short_password);
    const std::string plain = text(1000);
    // {strength written with, strength read with}: 0 is the password's own.
    for (const auto& [written, read] : {std::pair{1, 1}, {2, 2}, {3, 3}, {0, 1}, {1, 0}}) {
        unsigned char salt[16], verifier[verifier_length], code[auth_code_length];
        std::string data = plain;
        auto* bytes = reinterpret_cast<unsigned char*>(data.data());
        CAesEnc enc;
        enc.encrypt_start(pw, salt, verifier, written);
        enc.encrypt(bytes, static_cast<unsigned int>(data.size()));
        enc.encrypt_end(code);
        ASSERT_TRUE(enc.ok()) << written;
        CAesEnc dec;
        ASSERT_EQ(dec.decrypt_start(pw, salt, verifier, read), 0) << written << "/" << read;
        dec.decrypt(bytes, static_cast<unsigned int>(data.size()));
        EXPECT_EQ(data, plain) << written << "/" << read;
        EXPECT_EQ(dec.decrypt_end(code), 0) << written << "/" << read;
    }
    for (int bad : {-1, 4, 99}) {
        unsigned char salt[16] = {}, verifier[verifier_length] = {};
        CAesEnc enc;
        enc.encrypt_start(pw, salt, verifier, bad);
        EXPECT_FALSE(enc.ok()) << bad;
        CAesEnc dec;
        EXPECT_NE(dec.decrypt_start(pw, salt, verifier, bad), 0) << bad;
        EXPECT_FALSE(dec.ok()) << bad;
    }
}

}  // namespace
}  // namespace korvane
