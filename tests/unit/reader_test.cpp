// Decryption: password and integrity failures, damaged and crafted archives,
// the single-top-level rule and restored times.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <map>
#include <system_error>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <winioctl.h>
#else
#include <unistd.h>
#endif

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

#include "archive/paths.h"
#include "archive_support.h"
#include "engine/entry_pipeline.h"
#include "engine/writer.h"
#include "failing_allocation.h"
#include "platform/platform.h"
#include "temp_folder.h"

namespace korvane {
namespace {

using namespace test;

#ifdef _WIN32
// Wine sets no reparse point, but shows a host's symbolic link to a folder
// as one: the host's ln makes it. False outside Wine.
bool host_link(const fs::path& target, const fs::path& link) {
    using UnixName = char*(CDECL*)(LPCWSTR);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto unix_name = kernel ? reinterpret_cast<UnixName>(reinterpret_cast<void*>(
                                        GetProcAddress(kernel, "wine_get_unix_file_name")))
                                  : nullptr;
    if (!unix_name) return false;
    auto unix_path = [&](const fs::path& p) {
        char* name = unix_name(fs::absolute(p).wstring().c_str());
        const std::string path = name ? name : "";
        HeapFree(GetProcessHeap(), 0, name);
        return path;
    };
    const std::string from = unix_path(target), at = unix_path(link);
    if (from.empty() || at.empty()) return false;
    std::wstring command = fs::path("ln -s \"" + from + "\" \"" + at + "\"").wstring();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(L"Z:\\bin\\ln", command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    // The host's process is not one Wine can wait for: its link is.
    for (int i = 0; i < 500; ++i) {
        const DWORD attributes = GetFileAttributesW(link.wstring().c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) return attributes & FILE_ATTRIBUTE_REPARSE_POINT;
        Sleep(10);
    }
    return false;
}
#endif

// Makes link stand for target: natively a symbolic link, on Windows a
// junction (target a folder), under Wine a host's symbolic link.
bool make_link(const fs::path& target, const fs::path& link) {
#ifdef _WIN32
    // A mount-point reparse buffer: the target as "\??\C:\...", then an
    // empty print name.
    const std::wstring substitute = L"\\??\\" + fs::absolute(target).wstring();
    const std::size_t names = (substitute.size() + 2) * sizeof(wchar_t);
    std::vector<unsigned char> buffer(16 + names, 0);
    const auto put16 = [&](std::size_t at, std::size_t v) {
        buffer[at] = static_cast<unsigned char>(v);
        buffer[at + 1] = static_cast<unsigned char>(v >> 8);
    };
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    std::memcpy(buffer.data(), &tag, sizeof tag);
    put16(4, 8 + names);                                   // data length
    put16(10, substitute.size() * sizeof(wchar_t));        // substitute name length
    put16(12, (substitute.size() + 1) * sizeof(wchar_t));  // print name offset
    std::memcpy(buffer.data() + 16, substitute.data(), substitute.size() * sizeof(wchar_t));
    std::error_code ec;
    if (!fs::create_directory(link, ec)) return false;
    const HANDLE h =
        CreateFileW(link.wstring().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    DWORD returned = 0;
    const bool made =
        h != INVALID_HANDLE_VALUE &&
        DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buffer.data(),
                        static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    if (made) return true;
    fs::remove(link, ec);
    return host_link(target, link);
#else
    return symlink(target.c_str(), link.c_str()) == 0;
#endif
}

class Reader : public testing::Test {
  protected:
    TempFolder temp;
    fs::path dir() { return temp.path(); }

    // An archive with the given stored names (each file's content is its
    // name repeated), written through the writer without the worker's checks.
    fs::path crafted(const std::vector<std::string>& names, const std::string& password = "pw") {
        const fs::path archive = dir() / "crafted.cry";
        ArchiveWriter writer;
        EXPECT_EQ(writer.open(archive.string().c_str()), result_ok);
        JobCounters c;
        const CryptJob job = c.job({}, archive.string(), password);
        for (const auto& name : names) {
            const fs::path source = dir() / "source.bin";
            write_bytes(source, content_of(name));
            EXPECT_EQ(writer.add_file(source.string().c_str(), name.c_str(), job), result_ok);
        }
        EXPECT_EQ(writer.finish(), result_ok);
        EXPECT_EQ(writer.commit(), result_ok);
        fs::remove(dir() / "source.bin");
        return archive;
    }
    static std::string content_of(const std::string& name) { return name + name + name; }

    // Gives the entries named name another stored name of the same length
    // and sets their UTF-8 flag or clears it, in their local headers and
    // central records, whatever the writer chose for them.
    static void restore_as(const fs::path& archive, const std::string& name,
                           const std::string& stored, bool utf8) {
        ASSERT_EQ(name.size(), stored.size());
        std::string bytes = read_bytes(archive);
        for (std::size_t at = 0; (at = bytes.find(name, at)) != std::string::npos; ++at) {
            const auto header_at = [&](std::size_t back, const char* signature) {
                return at >= back && bytes.compare(at - back, 4, signature) == 0;
            };
            const std::size_t flags = header_at(30, "PK\3\4")   ? at - 24
                                      : header_at(46, "PK\1\2") ? at - 38
                                                                : 0;
            if (!flags) continue;
            bytes[flags + 1] =
                static_cast<char>(utf8 ? bytes[flags + 1] | 0x08 : bytes[flags + 1] & ~0x08);
            bytes.replace(at, stored.size(), stored);
        }
        write_bytes(archive, bytes);
    }
};

TEST_F(Reader, WrongPasswordChangesNothing) {
    const fs::path archive = crafted({"a.txt", "b.txt"}, "right");
    const fs::path out = dir() / "out";
    write_bytes(out / "a.txt", "already here");
    EXPECT_EQ(decrypt(archive, out, "wrong"), result_bad_password);
    EXPECT_EQ(tree(out),
              (std::vector<std::pair<std::string, std::string>>{{"a.txt", "already here"}}));
    EXPECT_EQ(fs::directory_entry(out / "a.txt").file_size(), 12u);
}

TEST_F(Reader, DamagedStreamFailsAndKeepsTheEarlierFile) {
    const fs::path source = dir() / "big.bin";
    write_bytes(source, text(300000));
    const fs::path archive = dir() / "big.cry";
    ASSERT_EQ(encrypt({source.string()}, archive, "pw"), result_ok);
    const std::string good = read_bytes(archive);
    const std::size_t data = 30 + 7 + 11 + 8 + 2;  // start of the encrypted stream
    const std::size_t stream =
        read_u32(reinterpret_cast<const unsigned char*>(good.data()) + 18) - 20;
    for (std::size_t at : {data, data + stream / 2, data + stream - 1, data + stream + 3}) {
        std::string bad = good;
        bad[at] = static_cast<char>(bad[at] ^ 0x01);
        write_bytes(archive, bad);
        const fs::path out = dir() / ("out" + std::to_string(at));
        write_bytes(out / "big.bin", "keep me");
        const ResultCode r = decrypt(archive, out, "pw");
        EXPECT_TRUE(r == result_bad_data || r == result_expansion_error) << at << ": " << r;
        EXPECT_EQ(tree(out),
                  (std::vector<std::pair<std::string, std::string>>{{"big.bin", "keep me"}}))
            << at;
    }
}

TEST_F(Reader, TruncationAnywhereFailsBeforeAnythingIsExtracted) {
    const fs::path archive = crafted({"one.txt", "two.txt"});
    const std::string good = read_bytes(archive);
    // Up to the end record's signature: past it every entry is intact.
    for (std::size_t cut = 1; cut < good.size() - 18; cut += (cut < 80 ? 1 : 7)) {
        write_bytes(archive, good.substr(0, cut));
        const fs::path out = dir() / "out";
        EXPECT_EQ(decrypt(archive, out, "pw"), result_not_encrypted) << cut;
        EXPECT_FALSE(fs::exists(out)) << cut;
    }
}

TEST_F(Reader, FilesThatAreNotArchivesAreNotEncrypted) {
    const struct {
        const char* why;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"text", "just some text, nothing more, but longer than any header at all"},
        {"local signature only", std::string("PK\x03\x04", 4)},
    };
    for (const auto& c : cases) {
        write_bytes(dir() / "x.cry", c.bytes);
        EXPECT_EQ(decrypt(dir() / "x.cry", dir() / "out", "pw"), result_not_encrypted) << c.why;
        EXPECT_FALSE(fs::exists(dir() / "out")) << c.why;
    }
    EXPECT_EQ(decrypt(dir() / "absent.cry", dir() / "out", "pw"), result_input_missing);
}

// An end record that counts no entry, with a ZIP64 end record or without, is
// an archive other tools write: nothing to list, extract or test.
TEST_F(Reader, ArchivesWithoutEntriesHaveNothingToDo) {
    const std::string classic = std::string("PK\x05\x06", 4) + std::string(18, '\0');
    std::string zip64(zip64_end_record_size + zip64_locator_size, '\0');
    auto* z = reinterpret_cast<unsigned char*>(zip64.data());
    put_u32(z, zip64_end_record_signature);
    put_u32(z + 4, zip64_end_record_size - 12);
    put_u32(z + zip64_end_record_size, zip64_locator_signature);
    put_u32(z + zip64_end_record_size + 16, 1);
    for (const std::string& bytes : {classic, zip64 + classic}) {
        write_bytes(dir() / "empty.zip", bytes);
        const std::string archive = utf8(dir() / "empty.zip");
        ArchiveReader reader;
        int listed = 0;
        EXPECT_EQ(reader.list_all(archive.c_str(),
                                  [&](const EntrySummary&) { return ++listed, result_ok; }),
                  result_ok);
        EXPECT_EQ(listed, 0);
        JobCounters c;
        EXPECT_EQ(reader.test_all(archive.c_str(), "pw", c.processed, c.cancel), result_ok);
        EXPECT_EQ(decrypt(dir() / "empty.zip", dir() / "out", "pw"), result_ok);
        EXPECT_EQ(snapshot(dir() / "out").size(), 0u);
    }
}

TEST_F(Reader, EntryTooShortForItsSaltIsNotEncrypted) {
    const fs::path archive = crafted({"a.txt"});
    std::string a = read_bytes(archive);
    // Compressed size 19 < salt 8 + verifier 2 + code 10, in both headers,
    // the directory moved up to just after it.
    const std::uint32_t real = read_u32(reinterpret_cast<const unsigned char*>(a.data()) + 18);
    const std::string data = a.substr(30 + 5 + 11, real);
    std::string shrunk =
        a.substr(0, 30 + 5 + 11) + data.substr(0, 19) + a.substr(30 + 5 + 11 + real);
    auto* p = reinterpret_cast<unsigned char*>(shrunk.data());
    const std::size_t central = 30 + 5 + 11 + 19, end = shrunk.size() - end_record_size;
    put_u32(p + 18, 19);
    put_u32(p + central + 20, 19);
    put_u32(p + end + 16, static_cast<std::uint32_t>(central));
    write_bytes(archive, shrunk);
    EXPECT_EQ(decrypt(archive, dir() / "out", "pw"), result_not_encrypted);
}

TEST_F(Reader, SingleTopLevelFolderIsDropped) {
    const struct {
        std::vector<std::string> names;
        std::vector<std::string> restored;
    } cases[] = {
        {{"Photos/a.jpg", "Photos/sub/b.jpg"}, {"a.jpg", "sub/b.jpg"}},
        // One folder where the file system folds case, two where it does not.
        {{"Photos/a.jpg", "photos/b.jpg"},
         windows_name_rules() ? std::vector<std::string>{"a.jpg", "b.jpg"}
                              : std::vector<std::string>{"Photos/a.jpg", "photos/b.jpg"}},
        {{"Photos/a.jpg", "Other/b.jpg"}, {"Other/b.jpg", "Photos/a.jpg"}},
        {{"report.doc"}, {"report.doc"}},
        {{"Photos/a.jpg", "loose.txt"}, {"Photos/a.jpg", "loose.txt"}},
    };
    std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> all;
    for (const auto& c : cases) all.emplace_back(c.names, c.restored);
    // Natively '\' is a byte of a name, as a Shift-JIS trail byte (83 5C is
    // the first character of the unflagged name), not a separator to split
    // the top folder at: the files keep every byte.
    if (!windows_name_rules()) {
        // Written with '|' for the 0x5C, which the writer would turn into '/'.
        all.push_back({{"\x83|\x83t\x83g.txt"}, {"\x83\\\x83t\x83g.txt"}});
        all.push_back(
            {{"\x83|\x83t\x83g.txt", "\x83|x.txt"}, {"\x83\\x.txt", "\x83\\\x83t\x83g.txt"}});
    }
    int n = 0;
    for (const auto& c : all) {
        const fs::path archive = crafted(c.first);
        for (std::string name : c.first) {
            if (name.find('|') == std::string::npos) continue;
            std::string stored = name;
            std::replace(stored.begin(), stored.end(), '|', '\\');
            restore_as(archive, name, stored, false);
        }
        const fs::path out = dir() / ("out" + std::to_string(n++));
        ASSERT_EQ(decrypt(archive, out, "pw"), result_ok) << c.first[0];
        std::vector<std::string> got;
        for (const auto& [name, content] : tree(out)) got.push_back(name);
        EXPECT_EQ(got, c.second) << c.first[0];
    }
}

// Names the Windows program stored under code page 932, each with a trail
// byte 0x5C, come back with their own names when the code page is given.
TEST_F(Reader, LegacyNamesReadInTheCodePageGiven) {
    const struct {
        std::string written;  // what the writer is given: '|' for the 0x5C
        std::string stored;
        std::string restored;
    } names[] = {
        {"\x95|/a.txt", "\x95\\/a.txt", "\xE8\xA1\xA8/a.txt"},  // 表/a.txt
        {"\x83|\x83t\x83g.txt", "\x83\\\x83t\x83g.txt",
         "\xE3\x82\xBD\xE3\x83\x95\xE3\x83\x88.txt"},  // ソフト.txt
        {"\x94|\x97\xCD.txt", "\x94\\\x97\xCD.txt", "\xE8\x83\xBD\xE5\x8A\x9B.txt"},  // 能力.txt
    };
    std::vector<std::string> written;
    for (const auto& n : names) written.push_back(n.written);
    const fs::path archive = crafted(written);
    std::vector<std::pair<std::string, std::string>> expected;
    for (const auto& n : names) {
        restore_as(archive, n.written, n.stored, false);
        expected.emplace_back(n.restored, content_of(n.written));
    }
    std::sort(expected.begin(), expected.end());
    JobCounters c;
    CryptJob job = c.job({utf8(archive)}, utf8(dir() / "out"), "pw");
    job.name_code_page = 932;
    ASSERT_EQ(decrypt_worker(job), result_ok);
    EXPECT_EQ(tree(dir() / "out"), expected);
    // Bytes that are no Shift-JIS are refused, not dropped.
    const fs::path broken = crafted({"\x95.txt"});
    restore_as(broken, "\x95.txt", "\x95.txt", false);
    CryptJob again = c.job({utf8(broken)}, utf8(dir() / "out2"), "pw");
    again.name_code_page = 932;
    EXPECT_EQ(decrypt_worker(again), result_bad_path);
}

TEST_F(Reader, HostileNamesStopWithEarlierEntriesKept) {
    std::vector<std::string> hostile = {"../evil.txt", "/abs.txt", "\\abs.txt", "a/../../evil",
                                        "a/./b", "..", "with\\..\\dots", "x/",
                                        // flagged UTF-8, but not
                                        "bad\xC3(.txt"};
    if (windows_name_rules()) {
        for (const char* n : {"aux.c", "sub/CON", "c:evil", "a/...", "a/.. /b", "file.txt:stream"})
            hostile.push_back(n);
    }
    for (const auto& name : hostile) {
        const fs::path archive = crafted({"first.txt", name});
        restore_as(archive, name, name, true);
        const fs::path out = dir() / "out";
        fs::remove_all(out);
        EXPECT_EQ(decrypt(archive, out, "pw"), result_bad_path) << name;
        EXPECT_EQ(tree(out), (std::vector<std::pair<std::string, std::string>>{
                                 {"first.txt", content_of("first.txt")}}))
            << name;
        EXPECT_FALSE(fs::exists(dir() / "evil.txt")) << name;
    }
}

TEST_F(Reader, OddButHarmlessNamesExtract) {
    const fs::path archive = crafted({"a..b", ".hidden", "dir/aux.c"});
    const fs::path out = dir() / "out";
    if (windows_name_rules()) {
        // aux.c would open a device on Windows.
        EXPECT_EQ(decrypt(archive, out, "pw"), result_bad_path);
        return;
    }
    ASSERT_EQ(decrypt(archive, out, "pw"), result_ok);
    EXPECT_EQ(read_bytes(out / "dir" / "aux.c"), content_of("dir/aux.c"));
    EXPECT_EQ(read_bytes(out / ".hidden"), content_of(".hidden"));
}

TEST_F(Reader, FolderInTheWayOfAFileGivesOpenFailure) {
    const fs::path archive = crafted({"a.txt"});
    fs::create_directories(dir() / "out" / "a.txt");
    EXPECT_EQ(decrypt(archive, dir() / "out", "pw"), result_open_output_failed);
    EXPECT_TRUE(fs::is_directory(dir() / "out" / "a.txt"));
    EXPECT_EQ(tree(dir() / "out").size(), 0u);  // no temporary file left behind
}

TEST_F(Reader, FileInTheWayOfAFolderGivesFolderFailure) {
    const fs::path archive = crafted({"x.txt", "sub/y.txt"});
    write_bytes(dir() / "out" / "sub", "a file, not a folder");
    EXPECT_EQ(decrypt(archive, dir() / "out", "pw"), result_folder_failed);
    EXPECT_EQ(read_bytes(dir() / "out" / "x.txt"), content_of("x.txt"));
}

TEST_F(Reader, LinksBelowTheDestinationAreNeitherFollowedNorReplaced) {
    // A link where an entry's folder or file goes would carry the entry
    // elsewhere (or replace a link the user made): the entry fails, naming
    // the link, and what the link stands for is untouched. Natively a link
    // to a file is alike; the destination itself may be a link. A folder
    // swapped for a link after an entry was made in it is a link as well;
    // Windows holds each folder from the first entry that needs it, so the
    // swap itself is refused and every entry goes where it goes (Wine lets
    // it happen: the file made through the link is found and removed).
    const struct {
        const char* why;
        std::vector<std::string> names;
        const char* link;  // below out, standing for outside (a folder) or outside/keep.txt
        bool to_file;
        ResultCode want;
        std::size_t swap_before = 0;  // the entry before which the link is made; 0: at once
    } cases[] = {
        {"a folder of the path", {"x.txt", "sub/y.txt"}, "sub", false, result_folder_failed},
        {"a deeper folder", {"x.txt", "a/sub/y.txt"}, "a/sub", false, result_folder_failed},
        {"the file itself, to a folder",
         {"x.txt", "y.txt"},
         "y.txt",
         false,
         result_open_output_failed},
        {"the file itself, to a file",
         {"x.txt", "y.txt"},
         "y.txt",
         true,
         result_open_output_failed},
        {"a folder swapped for a link after its first file",
         {"x.txt", "sub/a.txt", "sub/y.txt"},
         "sub",
         false,
         result_folder_failed,
         2},
        {"a folder above a new one swapped",
         {"x.txt", "sub/a.txt", "sub/deeper/y.txt"},
         "sub",
         false,
         result_folder_failed,
         2},
    };
    bool made_no_link = false;
    int row = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
#ifdef _WIN32
        if (c.to_file) continue;  // a file link needs a privilege there
#endif
        const fs::path archive = crafted(c.names);
        // Folders of its own: Wine cannot remove the host's links it shows.
        const std::string n = std::to_string(row++);
        const fs::path outside = dir() / ("outside" + n), out = dir() / ("out" + n);
        write_bytes(outside / "keep.txt", "outside");
        fs::create_directories((out / c.link).parent_path());
        bool held = false;  // the folder could not be moved aside
        auto swap = [&] {
            if (fs::exists(out / c.link)) {
                std::error_code refused;
                fs::rename(out / c.link, dir() / ("aside" + n), refused);
                held = static_cast<bool>(refused);
                if (held) return true;
            }
            return make_link(c.to_file ? outside / "keep.txt" : outside, out / c.link);
        };
        if (!c.swap_before && !swap()) {
            // Wine makes none; the swaps of a held folder need none.
            made_no_link = true;
            continue;
        }
        ArchiveReader reader;
        // A swap waits for the entries before it, which one thread runs in
        // turn; several would let the swap overtake the entry it follows.
        reader.set_workers(c.swap_before ? 1 : 4);
        reader.set_entry_start([&](std::size_t entry) {
            if (c.swap_before && entry == c.swap_before) {
                EXPECT_TRUE(swap());
            }
        });
        JobCounters counters;
        const ResultCode r = reader.extract_all(utf8(archive).c_str(), utf8(out).c_str(), "pw",
                                                counters.processed, counters.cancel);
        EXPECT_EQ(snapshot(outside), (std::map<std::string, std::string>{{"keep.txt", "outside"}}));
        // Windows refuses to move a folder it holds; Wine moves it.
        EXPECT_TRUE(!held || (windows_name_rules() && c.swap_before));
        if (held) {
            EXPECT_EQ(r, result_ok);
            for (const std::string& name : c.names)
                EXPECT_EQ(read_bytes(out / name), content_of(name)) << name;
            continue;
        }
        EXPECT_EQ(r, c.want);
        EXPECT_EQ(reader.link_in_the_way(), utf8(out) + platform::separator + native_path(c.link));
        platform::FindData link;
        EXPECT_TRUE(platform::find_path(utf8(out / c.link).c_str(), link) && link.is_link);
        EXPECT_EQ(read_bytes(out / "x.txt"), content_of("x.txt"));
    }
    if (made_no_link) GTEST_SKIP() << "this system makes no junctions: only the swaps ran";
    const fs::path archive = crafted({"x.txt", "sub/y.txt"});
    fs::create_directories(dir() / "outside");
    ASSERT_TRUE(make_link(dir() / "outside", dir() / "out"));
    JobCounters counters;
    CryptJob job = counters.job({utf8(archive)}, utf8(dir() / "out"), "pw");
    EXPECT_EQ(decrypt_worker(job), result_ok);
    EXPECT_EQ(read_bytes(dir() / "outside" / "sub" / "y.txt"), content_of("sub/y.txt"));
}

TEST_F(Reader, RestoresTheLastWriteTime) {
    const fs::path source = dir() / "dated.txt";
    write_bytes(source, "dated");
    ASSERT_TRUE(platform::set_file_times(source.string().c_str(), {2007, 3, 15, 10, 20, 30}));
    const fs::path archive = dir() / "dated.cry";
    ASSERT_EQ(encrypt({source.string()}, archive, "pw"), result_ok);
    const fs::path out = dir() / "out";
    ASSERT_EQ(decrypt(archive, out, "pw"), result_ok);
    platform::FindData found;
    ASSERT_TRUE(platform::find_path((out / "dated.txt").string().c_str(), found));
    const platform::LocalTime t = platform::to_local_time(found.last_write);
    EXPECT_EQ(t.year, 2007);
    EXPECT_EQ(t.month, 3);
    EXPECT_EQ(t.day, 15);
    EXPECT_EQ(t.hour, 10);
    EXPECT_EQ(t.minute, 20);
    EXPECT_EQ(t.second, 30);
}

TEST_F(Reader, CancelLeavesNoPartialFileAndKeepsTheEarlierOne) {
    write_bytes(dir() / "in" / "b.bin", noise(500000));
    const fs::path archive = dir() / "c.cry";
    ASSERT_EQ(encrypt({(dir() / "in" / "b.bin").string()}, archive, "pw"), result_ok);
    const fs::path out = dir() / "out";
    write_bytes(out / "b.bin", "earlier");
    ArchiveReader reader;
    JobCounters c;
    c.cancel = true;  // noticed after the first block
    EXPECT_EQ(reader.extract_all(archive.string().c_str(), out.string().c_str(), "pw", c.processed,
                                 c.cancel),
              result_cancelled);
    EXPECT_EQ(c.processed.load(), block_size);
    EXPECT_EQ(tree(out), (std::vector<std::pair<std::string, std::string>>{{"b.bin", "earlier"}}));
}

TEST_F(Reader, CleanupSparesAFileAnotherProgramRenamedOverTheOutput) {
    // Zeros: the whole stream is read at once, then written for a while.
    write_bytes(dir() / "in" / "b.bin", std::string(64u << 20, '\0'));
    const fs::path archive = dir() / "c.cry";
    ASSERT_EQ(encrypt({(dir() / "in" / "b.bin").string()}, archive, "pw"), result_ok);
    const fs::path out = dir() / "out";
    ArchiveReader reader;
    JobCounters c;
    bool replaced = false;
    std::thread other([&] {
        while (c.processed.load() == 0) std::this_thread::yield();
        write_bytes(dir() / "theirs", "another program's file");
        replaced =
            platform::replace_file(utf8(dir() / "theirs").c_str(), utf8(out / "b.bin").c_str());
        c.cancel = true;
    });
    const ResultCode r =
        reader.extract_all(utf8(archive).c_str(), utf8(out).c_str(), "pw", c.processed, c.cancel);
    other.join();
    // Windows refuses to replace a file another handle has open.
    if (!replaced) GTEST_SKIP() << "this system keeps an open file's name";
    EXPECT_EQ(r, result_cancelled);
    EXPECT_EQ(
        tree(out),
        (std::vector<std::pair<std::string, std::string>>{{"b.bin", "another program's file"}}));
}

TEST_F(Reader, AllocationFailureAfterTheOutputExistsLeavesNoFile) {
    // The decode buffers are allocated once the entry's file exists; an open
    // file cannot be deleted on Windows. A big entry on two threads fails
    // alike when its input blocks (its own thread) or its windows (the
    // inflating thread) cannot be had.
    using Files = std::vector<std::pair<std::string, std::string>>;
    const fs::path small = crafted({"a.txt"});
    fs::rename(small, dir() / "small.cry");
    write_bytes(dir() / "in" / "a.txt", noise(pipeline_threshold + 300000));
    ASSERT_EQ(encrypt({(dir() / "in" / "a.txt").string()}, dir() / "big.cry", "pw"), result_ok);
    const struct {
        const char* archive;
        int workers;
        std::size_t failing;
    } cases[] = {
        {"small.cry", 1, block_size},
        {"big.cry", 2, std::size_t{pipeline_block_size} * pipeline_blocks},
        {"big.cry", 2, std::size_t{pipeline_window_size} * pipeline_blocks},
    };
    int n = 0;
    for (const auto& c : cases) {
        for (const bool earlier : {false, true}) {
            const fs::path out = dir() / ("out" + std::to_string(n++));
            fs::create_directories(out);
            if (earlier) write_bytes(out / "a.txt", "earlier");
            ArchiveReader reader;
            reader.set_workers(c.workers);
            JobCounters counters;
            ResultCode r;
            {
                FailingAllocation failing(c.failing);
                r = reader.extract_all((dir() / c.archive).string().c_str(), out.string().c_str(),
                                       "pw", counters.processed, counters.cancel);
            }
            EXPECT_EQ(r, result_out_of_memory) << c.failing << earlier;
            EXPECT_EQ(tree(out), (earlier ? Files{{"a.txt", "earlier"}} : Files{}))
                << c.failing << earlier;
        }
    }
}

TEST_F(Reader, FailureOrCancelLeavesWhatOneThreadLeaves) {
    // Entries in folders of their own below five top folders; the one at
    // index 9 fails, or the job is cancelled.
    std::vector<std::string> names;
    for (int i = 0; i < 24; ++i) {
        const std::string n = std::to_string(i);
        names.push_back(std::string("d") += std::to_string(i % 5) + "/s" + n + "/e" + n + ".txt");
    }
    const struct {
        const char* why;
        std::string name9;     // entry 9's name
        bool damage9 = false;  // a byte of entry 9's stream changed
        bool block9 = false;   // a file where entry 9's folder goes
        bool cancel = false;
    } cases[] = {
        {"damaged stream", names[9], true},
        {"hostile name", "../e9.txt"},
        {"file in the way of the folder", "blocked/e9.txt", false, true},
        {"cancel", names[9], false, false, true},
    };
    for (const auto& c : cases) {
        std::vector<std::string> these = names;
        these[9] = c.name9;
        const fs::path archive = crafted(these);
        if (c.damage9) {
            std::string bytes = read_bytes(archive);
            const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
            std::size_t at = 0;
            for (int i = 0; i < 9; ++i)
                at += 30 + read_u16(p + at + 26) + read_u16(p + at + 28) + read_u32(p + at + 18);
            at += 30 + read_u16(p + at + 26) + read_u16(p + at + 28) + 8 + 2;
            bytes[at] = static_cast<char>(bytes[at] ^ 0x40);
            write_bytes(archive, bytes);
        }
        std::map<std::string, std::string> left[2];
        ResultCode results[2];
        for (int run = 0; run < 2; ++run) {
            const fs::path out = dir() / "out" += std::to_string(run);
            fs::remove_all(out);
            // One file of an earlier entry and one of a later entry are there already.
            write_bytes(out / "d2" / "s2" / "e2.txt", "older two");
            write_bytes(out / "d0" / "s15" / "e15.txt", "older fifteen");
            if (c.block9) write_bytes(out / "blocked", "a file");
            ArchiveReader reader;
            reader.set_workers(run == 0 ? 1 : 4);
            JobCounters counters;
            counters.cancel = c.cancel;
            results[run] = reader.extract_all(archive.string().c_str(), out.string().c_str(), "pw",
                                              counters.processed, counters.cancel);
            left[run] = snapshot(out);
        }
        EXPECT_NE(results[0], result_ok) << c.why;
        EXPECT_EQ(results[1], results[0]) << c.why;
        EXPECT_EQ(left[1], left[0]) << c.why;
        EXPECT_EQ(left[0]["d0/s15/e15.txt"], "older fifteen") << c.why;
        if (!c.cancel) {
            EXPECT_EQ(left[0]["d2/s2/e2.txt"], content_of(names[2])) << c.why;
            EXPECT_EQ(left[0]["d3/s8/e8.txt"], content_of(names[8])) << c.why;
            EXPECT_EQ(left[0].count("d0/s10"), 0u) << c.why;
        }
    }
}

TEST_F(Reader, BigEntryOnTwoThreadsEndsAsOnOne) {
    // Past the threshold, stored deflate blocks first, then text: with two
    // workers it is inflated on a thread of its own.
    const std::string content = noise(pipeline_threshold + 300000) + text(1000000);
    write_bytes(dir() / "in" / "big.bin", content);
    const fs::path archive = dir() / "big.cry";
    ASSERT_EQ(encrypt({(dir() / "in" / "big.bin").string()}, archive, "pw"), result_ok);
    const std::string good = read_bytes(archive);
    const auto* header = reinterpret_cast<const unsigned char*>(good.data());
    const std::size_t data = 30 + 7 + 11 + 8 + 2;  // start of the encrypted stream
    const std::size_t stream = read_u32(header + 18) - 20;
    ASSERT_GE(stream, pipeline_threshold);
    const std::size_t central = good.rfind(std::string("PK\1\2", 4));
    using Files = std::map<std::string, std::string>;
    constexpr ResultCode any_failure = -1;
    enum Fault { none, flip, size_off, cancel, full_disk };
    const struct {
        const char* why;
        Fault fault;
        ResultCode expected;  // any_failure: whichever one thread gives
        std::size_t at = 0;   // the byte flipped
        int size_error = 0;
    } cases[] = {
        {"intact", none, result_ok},
        {"damaged code", flip, result_bad_data, data + stream + 4},
        {"damaged stored block", flip, result_bad_data, data + stream / 4},
        {"damaged compressed text", flip, any_failure, data + stream - 2000},
        {"one byte short of its size", size_off, result_expansion_error, 0, 1},
        {"one byte past its size", size_off, result_expansion_error, 0, -1},
        {"cancel", cancel, result_cancelled},
#ifndef _WIN32
        {"file size limit", full_disk, result_write_failed},
#endif
    };
    for (const auto& c : cases) {
        std::string bad = good;
        if (c.fault == flip) bad[c.at] = static_cast<char>(bad[c.at] ^ 0x10);
        if (c.fault == size_off) {
            const auto size = static_cast<std::uint32_t>(content.size() + c.size_error);
            put_u32(reinterpret_cast<unsigned char*>(bad.data()) + 22, size);
            put_u32(reinterpret_cast<unsigned char*>(bad.data()) + central + 24, size);
        }
        write_bytes(archive, bad);
        ResultCode results[2];
        Files left[2];
        for (const int workers : {1, 2}) {
            const fs::path out = dir() / "out" += std::to_string(workers);
            fs::remove_all(out);
            write_bytes(out / "big.bin", "earlier");
            ArchiveReader reader;
            reader.set_workers(workers);
            JobCounters counters;
            counters.cancel = c.fault == cancel;
            ResultCode& r = results[workers - 1];
#ifndef _WIN32
            // Past the limit a write fails (EFBIG, its signal ignored).
            struct rlimit was {};
            getrlimit(RLIMIT_FSIZE, &was);
            void (*const signal_was)(int) = signal(SIGXFSZ, SIG_IGN);
            if (c.fault == full_disk) {
                struct rlimit limit = was;
                limit.rlim_cur = 1 << 20;
                setrlimit(RLIMIT_FSIZE, &limit);
            }
#endif
            r = reader.extract_all(archive.string().c_str(), out.string().c_str(), "pw",
                                   counters.processed, counters.cancel);
#ifndef _WIN32
            setrlimit(RLIMIT_FSIZE, &was);
            signal(SIGXFSZ, signal_was);
#endif
            left[workers - 1] = snapshot(out);
            if (c.fault == cancel) {
                EXPECT_EQ(counters.processed.load(),
                          workers == 1 ? block_size : pipeline_block_size);
            }
            if (c.expected == any_failure) {
                EXPECT_NE(r, result_ok) << c.why << ", " << workers;
            } else {
                EXPECT_EQ(r, c.expected) << c.why << ", " << workers;
            }
            EXPECT_EQ(left[workers - 1],
                      (Files{{"big.bin", r == result_ok ? content : std::string("earlier")}}))
                << c.why << ", " << workers;
        }
        EXPECT_EQ(results[1], results[0]) << c.why;
        EXPECT_EQ(left[1], left[0]) << c.why;
    }
}

TEST_F(Reader, EntriesOfOneNameKeepTheFirstAndFailOnTheNext) {
    // Entries of the same names, the later ones with other contents; with
    // any number of threads the first are restored and the first repeat
    // fails with 12, naming the entry it repeats. A lock refuses two inputs
    // of one name, so the writer is given the names.
    for (const char* from : {"p1", "p2"}) {
        for (int i = 0; i < 12; ++i)
            write_bytes(dir() / from / "A" / (std::string("f") += std::to_string(i) + ".txt"),
                        std::string(from) + text(1000 + 3000 * i));
    }
    const fs::path archive = dir() / "twice.cry";
    ASSERT_EQ(
        encrypt({(dir() / "p1" / "A").string(), (dir() / "p2" / "A").string()}, archive, "pw"),
        result_bad_path);
    {
        ArchiveWriter writer;
        ASSERT_EQ(writer.open(archive.string().c_str()), result_ok);
        JobCounters c;
        const CryptJob job = c.job({}, archive.string(), "pw");
        for (const char* from : {"p1", "p2"}) {
            for (int i = 0; i < 12; ++i) {
                // Appended, not "f" + ...: GCC 12's optimiser warns of an
                // overlap there that cannot happen.
                std::string name = "f";
                name += std::to_string(i);
                name += ".txt";
                ASSERT_EQ(writer.add_file((dir() / from / "A" / name).string().c_str(),
                                          ("A/" + name).c_str(), job),
                          result_ok);
            }
        }
        ASSERT_EQ(writer.finish(), result_ok);
        ASSERT_EQ(writer.commit(), result_ok);
    }
    for (int workers : {1, 4}) {
        const fs::path out = dir() / "out" += std::to_string(workers);
        ArchiveReader reader;
        reader.set_workers(workers);
        JobCounters c;
        ASSERT_EQ(reader.extract_all(archive.string().c_str(), out.string().c_str(), "pw",
                                     c.processed, c.cancel),
                  result_folder_failed);
        EXPECT_EQ(tree(out), tree(dir() / "p1" / "A")) << workers;
        EXPECT_EQ(reader.fault().entry, "A/f0.txt") << workers;
        EXPECT_EQ(reader.fault().reason, "names the same file here as entry 'A/f0.txt'") << workers;
    }
}

TEST_F(Reader, TwoArchivesGoIntoOneDestination) {
    const fs::path first = crafted({"one.txt"});
    fs::rename(first, dir() / "first.cry");
    const fs::path second = crafted({"two.txt"});
    JobCounters c;
    CryptJob job =
        c.job({(dir() / "first.cry").string(), second.string()}, (dir() / "out").string(), "pw");
    ASSERT_EQ(decrypt_worker(job), result_ok);
    EXPECT_EQ(tree(dir() / "out").size(), 2u);
    EXPECT_EQ(c.total.load(), fs::file_size(dir() / "first.cry") + fs::file_size(second));
}

}  // namespace
}  // namespace korvane
