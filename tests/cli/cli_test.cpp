// korvane-cli from the outside, in both builds: round trips, default names,
// list and test output, refusals that touch nothing, usage errors and the
// password sources.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/wide.h"
#endif

#include <algorithm>
#include <map>

#include "cli_runner.h"
#include "engine/writer.h"
#include "platform/platform.h"
#include "unit/archive_support.h"
#include "unit/temp_folder.h"

namespace korvane {
namespace {

using namespace test;
using Args = std::vector<std::string>;

// The archive with every entry's data (salt, verifier, stream, code) zeroed:
// what two runs must agree on byte for byte, as only the salts are random.
std::string without_entry_data(const fs::path& archive) {
    std::string bytes = read_bytes(archive);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t at = 0;
    while (at + local_header_size <= bytes.size() && read_u32(p + at) == local_header_signature) {
        const std::size_t data =
            at + local_header_size + read_u16(p + at + 26) + read_u16(p + at + 28);
        const std::size_t end = data + read_u32(p + at + 18);
        if (end > bytes.size()) break;
        std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(data),
                  bytes.begin() + static_cast<std::ptrdiff_t>(end), '\0');
        at = end;
    }
    return bytes;
}

#ifdef _WIN32
// A file whose name the path layer would change, made through the \\?\ form.
void write_exact(const fs::path& folder, const std::wstring& name, const std::string& content) {
    fs::create_directories(folder);
    const std::wstring path = L"\\\\?\\" + fs::absolute(folder).wstring() + L"\\" + name;
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << win::narrow(path);
    DWORD written = 0;
    EXPECT_TRUE(
        WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
    CloseHandle(file);
}

void delete_exact(const fs::path& folder, const std::wstring& name) {
    const std::wstring path = L"\\\\?\\" + fs::absolute(folder).wstring() + L"\\" + name;
    EXPECT_TRUE(DeleteFileW(path.c_str())) << win::narrow(path);
}
#endif

class Cli : public testing::Test {
  protected:
    TempFolder temp;
    ScopedEnv no_password{"KORVANE_PASSWORD", std::nullopt};

    fs::path dir() const { return temp.path(); }
    CliResult cli(const Args& args) { return run_cli(args, temp.path()); }
    CliResult cli_with(const std::string& password, const Args& args) {
        ScopedEnv env("KORVANE_PASSWORD", password);
        return run_cli(args, temp.path());
    }
    void make_tree(const fs::path& root) {
        write_bytes(root / "a.txt", text(1000));
        write_bytes(root / "sub" / "b.bin", noise(200000));
        write_bytes(root / "sub" / "deeper" / "c.txt", text(70000));
        write_bytes(root / "sub" / "deeper" / "empty.dat", "");
        write_bytes(root / "big.log", text(1 << 20));
        fs::create_directories(root / "sub" / "hollow" / "inner");
        fs::create_directory(root / "bare");
    }
};

TEST_F(Cli, NestedTreeRoundTripsAtEveryLevel) {
    make_tree(dir() / "docs");
    std::map<int, std::uintmax_t> sizes;
    for (int level : {0, 1, 6, 9}) {
        const std::string l = std::to_string(level);
        const CliResult locked =
            cli_with("s3cret", {"lock", "-l", l, "-o", "docs" + l + ".cry", "docs"});
        ASSERT_EQ(locked.status, 0) << locked.err;
        EXPECT_EQ(locked.err,
                  "Encryption has completed successfully.\n");  // no progress off a terminal
        sizes[level] = fs::file_size(dir() / ("docs" + l + ".cry"));
        // One thread and four write the same entries in the same order with
        // the same headers and sizes; only the salts, and so the encrypted
        // bytes, differ.
        for (const char* jobs : {"1", "4"}) {
            const std::string name = "docs" + l + "-j" + jobs + ".cry";
            ASSERT_EQ(cli_with("s3cret", {"lock", "-l", l, "-j", jobs, "-o", name, "docs"}).status,
                      0);
            EXPECT_EQ(without_entry_data(dir() / name),
                      without_entry_data(dir() / ("docs" + l + ".cry")))
                << "level " << level << ", -j " << jobs;
        }

        // A relative destination whose folders do not exist yet; each
        // archive restores the same files with the other number of threads.
        for (const std::string jobs : {"1", "4"}) {
            const std::string out = "restored/level" + l + "-j" + jobs;
            const std::string archive = "docs" + l + (jobs == "1" ? "-j4" : "-j1") + ".cry";
            const CliResult unlocked =
                cli_with("s3cret", {"unlock", "--jobs", jobs, archive, "-o", out});
            ASSERT_EQ(unlocked.status, 0) << unlocked.err;
            // Empty folders too.
            EXPECT_EQ(snapshot(dir() / out), snapshot(dir() / "docs")) << "level " << level;
        }
    }
    // -l reaches the job: stored blocks are bigger than the text they hold.
    EXPECT_GT(sizes[0], std::uintmax_t{(1 << 20) + 200000});
    EXPECT_LT(sizes[9] * 2, sizes[0]);
    EXPECT_LE(sizes[6], sizes[1]);
}

TEST_F(Cli, DefaultArchiveAndFolderNames) {
    struct Case {
        const char* create;  // a file, or a folder when it ends in '/'
        const char* operand;
        const char* archive;
        const char* folder;  // unlock's default destination
    };
    const Case cases[] = {
        {"report.final.txt", "report.final.txt", "report.final.cry", "report.final"},
        {".hidden", ".hidden", ".hidden.cry", ".hidden"},
        {"noext", "noext", "noext.cry", "noext"},
        {"photos.2020/", "photos.2020/", "photos.cry", "photos"},
        {"a long name with spaces.txt", "a long name with spaces.txt",
         "a long name with spaces.cry", "a long name with spaces"},
        // Outside ASCII (and データ outside code page 1252): from the wide
        // arguments to the files.
        {"\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF/", "\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF",
         "\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF.cry", "\xE3\x83\x87\xE3\x83\xBC\xE3\x82\xBF"},
        {"r\xC3\xA9sum\xC3\xA9.v1.txt", "r\xC3\xA9sum\xC3\xA9.v1.txt",
         "r\xC3\xA9sum\xC3\xA9.v1.cry", "r\xC3\xA9sum\xC3\xA9.v1"},
    };
    for (const Case& c : cases) {
        TempFolder work;
        const std::string create = c.create;
        const fs::path made = fs::path(work.path()) / from_utf8(create);
        write_bytes(create.back() == '/' ? made / "inside.txt" : made, "x");
        ScopedEnv env("KORVANE_PASSWORD", "pw");
        const CliResult locked = run_cli({"lock", c.operand}, work.path());
        ASSERT_EQ(locked.status, 0) << c.operand << ": " << locked.err;
        EXPECT_TRUE(fs::is_regular_file(fs::path(work.path()) / from_utf8(c.archive))) << c.operand;
        // Out of the way of the destination, which may have the same name.
        fs::remove_all(made);
        const CliResult unlocked = run_cli({"unlock", c.archive}, work.path());
        ASSERT_EQ(unlocked.status, 0) << c.archive << ": " << unlocked.err;
        EXPECT_TRUE(fs::is_directory(fs::path(work.path()) / from_utf8(c.folder))) << c.archive;
    }
}

// The longest names the platform takes work as outputs, temporary files and
// all: natively a 255-byte name, on win32 a 259-character path.
TEST_F(Cli, OutputsAtThePlatformLimit) {
#ifdef _WIN32
    const std::size_t room = 259 - dir().string().size() - 1;  // for a name directly in dir()
#else
    const std::size_t room = 255;
#endif
    // The default archive name adds ".cry" and so reaches the limit exactly;
    // inside "out" the extracted file's path does so too on win32.
    const std::string base(room - 4, 'n'), archive = base + ".cry";
    write_bytes(dir() / base, text(3000));
    ScopedEnv env("KORVANE_PASSWORD", "pw");
    const CliResult locked = cli({"lock", base});
    ASSERT_EQ(locked.status, 0) << locked.err;
    const CliResult unlocked = cli({"unlock", "-o", "out", archive});
    ASSERT_EQ(unlocked.status, 0) << unlocked.err;
    EXPECT_EQ(read_bytes(dir() / "out" / base), text(3000));
    std::vector<std::string> left;
    for (const auto& [name, content] : snapshot(dir())) left.push_back(name);
    EXPECT_EQ(left, (std::vector<std::string>{base, archive, "out", "out/" + base}));
}

// A tree deeper than 260 characters, named relative on one side and absolute
// on the other, round-trips (on win32 through the "\\?\" form).
TEST_F(Cli, TreesDeeperThanThePathLimitRoundTrip) {
    const fs::path deep = fs::path(std::string(100, 'a')) / std::string(100, 'b') /
                          std::string(100, 'c') / "file.txt";
    write_bytes(dir() / "Deep" / deep, text(5000));
    write_bytes(dir() / "Deep" / "top.txt", "top");
    ScopedEnv env("KORVANE_PASSWORD", "pw");
    const std::string archive = (dir() / "Deep.cry").string();
    const CliResult locked = cli({"lock", "-o", archive, "Deep"});
    ASSERT_EQ(locked.status, 0) << locked.err;
    const fs::path out = dir() / std::string(100, 'o');
    const CliResult unlocked = cli({"unlock", "-o", out.string(), "Deep.cry"});
    ASSERT_EQ(unlocked.status, 0) << unlocked.err;
    ASSERT_GT((out / deep).string().size(), 400u);
    // Not tree(): the folder listing of the win32 C runtime stops at 260
    // characters.
    EXPECT_EQ(read_bytes(out / deep), text(5000));
    EXPECT_EQ(read_bytes(out / "top.txt"), "top");
}

// Names in any script come back exactly, and list shows them (as UTF-8 when
// the output is not a console).
TEST_F(Cli, NamesInAnyScriptRoundTrip) {
#ifdef _WIN32
    ASSERT_EQ(GetACP(), 1252u);  // so café is held by the code page and the rest is not
#endif
    std::vector<std::string> names = {"caf\xC3\xA9.txt", "emoji\xF0\x9F\x98\x80.txt", "plain.txt",
                                      "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt"};  // 日本語.txt
#ifndef _WIN32
    // A Linux name that is no UTF-8 comes back as the same bytes.
    names.push_back("caf\xE9.txt");
#endif
    for (const std::string& name : names) write_bytes(dir() / "Data" / from_utf8(name), name);
    ScopedEnv env("KORVANE_PASSWORD", "pw");
    const CliResult locked = cli({"lock", "Data"});
    ASSERT_EQ(locked.status, 0) << locked.err;
    const CliResult listed = cli({"list", "Data.cry"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    for (const std::string& name : names)
        EXPECT_NE(listed.out.find("  Data/" + name + "\n"), std::string::npos) << listed.out;
    const CliResult unlocked = cli({"unlock", "-o", "out", "Data.cry"});
    ASSERT_EQ(unlocked.status, 0) << unlocked.err;
    std::vector<std::pair<std::string, std::string>> expected;
    for (const std::string& name : names) expected.emplace_back(name, name);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(tree(dir() / "out"), expected);
#ifndef _WIN32
    // Shift-JIS bytes are stored as they are, as the Windows program stores
    // names under code page 932, and read as that code page when told.
    write_bytes(dir() / "sjis" / "\x93\xFA\x96\x7B.txt", "nihon");
    ASSERT_EQ(cli({"lock", "sjis"}).status, 0);
    const CliResult as_932 = cli({"list", "--name-code-page", "932", "sjis.cry"});
    EXPECT_NE(as_932.out.find("  sjis/\xE6\x97\xA5\xE6\x9C\xAC.txt\n"), std::string::npos)
        << as_932.out;
    ASSERT_EQ(cli({"unlock", "--name-code-page=932", "-o", "out932", "sjis.cry"}).status, 0);
    EXPECT_EQ(read_bytes(dir() / "out932" / "\xE6\x97\xA5\xE6\x9C\xAC.txt"), "nihon");
#endif
}

TEST_F(Cli, DotIsNamedAfterTheFolderAndARootIsArchive) {
    const fs::path work = dir() / "work.v2";
    write_bytes(work / "f.txt", "content");
    ScopedEnv env("KORVANE_PASSWORD", "pw");
    const CliResult dot = run_cli({"lock", "."}, work.string());
    ASSERT_EQ(dot.status, 0) << dot.err;
    // The archive lies in the folder being locked, and must not hold itself.
    const CliResult listed = run_cli({"list", "work.v2.cry"}, work.string());
    EXPECT_EQ(listed.status, 0);
    EXPECT_NE(listed.out.find("  work.v2/f.txt\n"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("  1 entry\n"), std::string::npos) << listed.out;

    // A root gives "archive.cry"; seen through the refusal, so that nothing
    // is encrypted.
    write_bytes(work / "archive.cry", "keep");
    const std::string root = dir().root_path().string();
    const CliResult rooted = run_cli({"lock", root}, work.string());
    EXPECT_EQ(rooted.status, 73) << rooted.err;
    EXPECT_NE(rooted.err.find("archive.cry"), std::string::npos) << rooted.err;
    EXPECT_EQ(read_bytes(work / "archive.cry"), "keep");
}

TEST_F(Cli, ListShowsEveryEntryThenTheTotal) {
    write_bytes(dir() / "known" / "deep" / "one.txt", "A");
    write_bytes(dir() / "known" / "empty.txt", "");
    const platform::LocalTime when{2021, 3, 4, 5, 6, 8};
    for (const char* f : {"known/deep/one.txt", "known/empty.txt"})
        ASSERT_TRUE(platform::set_file_times((temp / f).c_str(), when));
    // Compressed sizes: salt (8, 12 or 16 bytes), verifier 2, code 10, and
    // a fixed-code deflate block of 2 bytes (empty) or 3 bytes (one letter).
    struct Case {
        std::size_t password_length;
        const char* bits;
        unsigned salt;
    };
    for (const Case c : {Case{31, "128", 8}, Case{32, "192", 12}, Case{48, "256", 16}}) {
        const std::string archive = "known" + std::to_string(c.password_length) + ".cry";
        ASSERT_EQ(cli_with(std::string(c.password_length, 'k'),
                           {"lock", "-o", archive, "known/deep", "known/empty.txt"})
                      .status,
                  0);
        const CliResult listed = cli({"list", archive});  // no password source at all
        ASSERT_EQ(listed.status, 0) << listed.err;
        char expected[512];
        std::snprintf(expected, sizeof expected,
                      "         1  %10u  2021-03-04 05:06:08  %s  AE-2 deflate  deep/one.txt\n"
                      "         0  %10u  2021-03-04 05:06:08  %s  AE-2 deflate  empty.txt\n"
                      "         1  %10u  2 entries\n",
                      c.salt + 15, c.bits, c.salt + 14, c.bits, 2 * c.salt + 29);
        EXPECT_EQ(listed.out, expected);
    }
    write_bytes(dir() / "plain.txt", "not an archive at all, just text");
    EXPECT_EQ(cli({"list", "plain.txt"}).status, result_not_encrypted);
}

TEST_F(Cli, TestChecksEveryEntryAndWritesNothing) {
    write_bytes(dir() / "src" / "data.txt", text(300000));
    ASSERT_EQ(encrypt({(dir() / "src").string()}, dir() / "good.cry", "pw"), result_ok);
    fs::remove_all(dir() / "src");
    const std::string good = read_bytes(dir() / "good.cry");
    const auto* bytes = reinterpret_cast<const unsigned char*>(good.data());
    const std::size_t stream = 30 + std::string("src/data.txt").size() + 11 + 8 + 2;
    const std::size_t directory = read_u32(bytes + good.size() - 22 + 16);

    // An archive whose one entry would land outside the destination.
    {
        write_bytes(dir() / "payload", "escape");
        ArchiveWriter writer;
        JobCounters c;
        ASSERT_EQ(writer.open((dir() / "evil.cry").string().c_str()), result_ok);
        ASSERT_EQ(writer.add_file((dir() / "payload").string().c_str(), "../evil.txt",
                                  c.job({}, "", "pw")),
                  result_ok);
        ASSERT_EQ(writer.finish(), result_ok);
        ASSERT_EQ(writer.commit(), result_ok);
        fs::remove(dir() / "payload");
    }
    struct Case {
        const char* what;
        std::size_t flip;  // byte to damage; 0 for none
        const char* archive;
        const char* password;
        std::vector<int> statuses;
    };
    const Case cases[] = {
        {"intact", 0, "good.cry", "pw", {result_ok}},
        {"stream start", stream, "good.cry", "pw", {result_bad_data, result_expansion_error}},
        {"mid stream",
         (stream + directory) / 2,
         "good.cry",
         "pw",
         {result_bad_data, result_expansion_error}},
        {"code", directory - 1, "good.cry", "pw", {result_bad_data}},
        {"password", 0, "good.cry", "wrong", {result_bad_password}},
        {"unsafe name", 0, "evil.cry", "pw", {result_bad_path}},
    };
    for (const Case& c : cases) {
        std::string damaged = good;
        if (c.flip) damaged[c.flip] = static_cast<char>(damaged[c.flip] ^ 0x10);
        write_bytes(dir() / "good.cry", damaged);
        const auto before = snapshot(dir());
        const CliResult r = cli_with(c.password, {"test", c.archive});
        EXPECT_NE(std::find(c.statuses.begin(), c.statuses.end(), r.status), c.statuses.end())
            << c.what << ": " << r.status << " " << r.err;
        EXPECT_EQ(snapshot(dir()), before) << c.what;
        if (r.status == result_ok)
            EXPECT_EQ(r.err, "Test has completed successfully.\n");
        else
            EXPECT_EQ(r.err.rfind("Test has failed.\n", 0), 0u) << r.err;
    }
}

TEST_F(Cli, RefusalsTouchNothing) {
    write_bytes(dir() / "in.txt", "input");
    write_bytes(dir() / "old.cry", "an older archive");
    write_bytes(dir() / "full" / "x.txt", "x");
    fs::create_directory(dir() / "empty");
    write_bytes(dir() / "afile", "a file");
    write_bytes(dir() / "pw-empty.txt", "\n");
    write_bytes(dir() / "pw-long.txt", std::string(64, 'a') + "\n");
    write_bytes(dir() / "pw-nonascii.txt",
                "gr\xC3\xBC\xC3\x9F"
                "e\n");
    write_bytes(dir() / "pw-nul.txt", std::string("ab\0cd\n", 6));
    write_bytes(dir() / "a" / "x.txt", "one");
    write_bytes(dir() / "b" / "x.txt", "two");
    ASSERT_EQ(encrypt({(dir() / "in.txt").string()}, dir() / "good.cry", "pw"), result_ok);
    {
        // Two central records for the one entry.
        std::string a = read_bytes(dir() / "good.cry");
        const std::size_t end = a.size() - end_record_size;
        auto* p = reinterpret_cast<unsigned char*>(a.data());
        const std::uint32_t size = read_u32(p + end + 12), offset = read_u32(p + end + 16);
        a.insert(end, a.substr(offset, size));
        p = reinterpret_cast<unsigned char*>(a.data());
        put_u16(p + end + size + 8, 2);
        put_u16(p + end + size + 10, 2);
        put_u32(p + end + size + 12, 2 * size);
        write_bytes(dir() / "twice.cry", a);
        // A name without the UTF-8 flag that code page 932 cannot read.
        write_bytes(dir() / "payload", "latin");
        ArchiveWriter writer;
        JobCounters c;
        ASSERT_EQ(writer.open(utf8(dir() / "latin.cry").c_str()), result_ok);
        ASSERT_EQ(
            writer.add_file(utf8(dir() / "payload").c_str(), "caf\xE9.txt", c.job({}, "", "pw")),
            result_ok);
        ASSERT_EQ(writer.finish(), result_ok);
        ASSERT_EQ(writer.commit(), result_ok);
        fs::remove(dir() / "payload");
    }
#ifdef _WIN32
    fs::copy_file(dir() / "good.cry", dir() / "....cry");
#else
    write_bytes(dir() / "back\\slash.txt", "b");
    write_bytes(dir() / "tree" / "ok.txt", "o");
    write_bytes(dir() / "tree" / "..\\x.txt", "x");
#endif

    const std::string too_long(64, 'b');
    struct Case {
        Args args;
        const char* password;  // KORVANE_PASSWORD, or nullptr for none
        int status;
        const char* says;  // part of stderr
    };
    const Case cases[] = {
        {{"lock", "missing.txt"}, "pw", 66, "missing.txt"},
        {{"lock", "in.txt", "also-missing"}, "pw", 66, "also-missing"},
        {{"lock", "in.txt", "-o", "old.cry"}, "pw", 73, "old.cry"},
        {{"lock", "-f", "in.txt", "-o", "full"}, "pw", 73, "full"},
        {{"unlock", "nothere.cry"}, "pw", 66, "nothere.cry"},
        {{"unlock", "full"}, "pw", 66, "full"},
        {{"unlock", "good.cry", "-o", "full"}, "pw", 73, "full"},
        {{"unlock", "-f", "good.cry", "-o", "afile"}, "pw", 73, "afile"},
        {{"test", "nothere.cry"}, "pw", 66, "nothere.cry"},
        {{"list", "nothere.cry"}, nullptr, 66, "nothere.cry"},
        {{"lock", "in.txt", "--password-file", "no-such-file"}, "pw", 66, "no-such-file"},
        {{"lock", "in.txt"}, nullptr, 65, "KORVANE_PASSWORD"},
        {{"unlock", "good.cry"}, nullptr, 65, "KORVANE_PASSWORD"},
        {{"test", "good.cry"}, nullptr, 65, "KORVANE_PASSWORD"},
        {{"lock", "in.txt", "--password-file", "pw-empty.txt"},
         nullptr,
         65,
         "Input a password of within 63 characters."},
        {{"lock", "in.txt", "--password-file=pw-long.txt"},
         nullptr,
         65,
         "Input a password of within 63 characters."},
        {{"unlock", "good.cry", "--password-file", "pw-long.txt"},
         nullptr,
         65,
         "Input a password of within 63 characters."},
        {{"lock", "in.txt"}, too_long.c_str(), 65, "Input a password of within 63 characters."},
        {{"lock", "in.txt", "--password-file", "pw-nonascii.txt"}, nullptr, 65, "code page"},
        {{"lock", "in.txt", "--password-file", "pw-nul.txt"}, nullptr, 65, "NUL"},
        {{"lock", "-o", "d.cry", "a/x.txt", "b/x.txt"},
         "pw",
         14,
         "x.txt' would be stored under the same name as '"},
        {{"lock", "-o", "d.cry", "a", "b/x.txt", "b/../a"}, "pw", 14, "a' would be stored under"},
        {{"lock", "-f", "-o", "in.txt", "in.txt"}, "pw", 73, "'in.txt' is one of the inputs"},
        {{"lock", "-f", "-o", "full/x.txt", "in.txt", "full"},
         "pw",
         73,
         "'full/x.txt' lies in the input folder"},
        {{"unlock", "good.cry"}, "wrong", 1, "entry 'in.txt' does not open with this password"},
        {{"unlock", "twice.cry"}, "pw", 11, "entry 'in.txt' shares bytes"},
        {{"test", "twice.cry"}, "pw", 11, "entry 'in.txt' shares bytes"},
        {{"list", "twice.cry"}, nullptr, 11, "entry 'in.txt' shares bytes"},
        {{"unlock", "--name-code-page", "932", "latin.cry"},
         "pw",
         14,
         "entry 'caf\\xE9.txt' has a name that code page 932 has no reading for; "
         "--name-code-page"},
#ifdef _WIN32
        // Characters code page 1252 cannot hold, from the variable.
        {{"lock", "in.txt"}, "\xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C", 65, "code page"},
        {{"test", "good.cry"}, "\xEF\xBD\x90\xEF\xBD\x81\xEF\xBD\x93\xEF\xBD\x93", 65, "code page"},
        {{"unlock", "good.cry"}, "\xE3\x83\x91\xE3\x82\xB9", 65, "code page"},
        // The path layer would trim "..." to the folder it sits in.
        {{"unlock", "....cry"}, "pw", 73, "..."},
        {{"unlock", "-f", "good.cry", "-o", "full\\. ."}, "pw", 73, "full\\. ."},
#else
        // A '\\' is a separator to every reader: no archive may hold one.
        {{"lock", "in.txt", "back\\slash.txt"}, "pw", 14, "back\\slash.txt"},
        {{"lock", "-o", "t.cry", "tree"}, "pw", 14, "..\\x.txt"},
        // A password file without end is read no further than a password.
        {{"lock", "in.txt", "--password-file", "/dev/zero"},
         nullptr,
         65,
         "Input a password of within 63 characters."},
#endif
    };
    for (const Case& c : cases) {
        const auto before = snapshot(dir());
        std::optional<ScopedEnv> env;
        if (c.password) env.emplace("KORVANE_PASSWORD", c.password);
        const CliResult r = cli(c.args);
        const std::string what = testing::PrintToString(c.args);
        EXPECT_EQ(r.status, c.status) << what << "\n" << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << what << "\n" << r.err;
        EXPECT_EQ(snapshot(dir()), before) << what;
    }
    // An empty folder is a fine destination.
    EXPECT_EQ(cli_with("pw", {"unlock", "good.cry", "-o", "empty"}).status, 0);
    EXPECT_EQ(read_bytes(dir() / "empty" / "in.txt"), "input");
}

#ifdef _WIN32
// Names the path layer would open as another file (or as none) fail the lock
// naming them, before any archive exists; each lies beside a file of the name
// it would be taken for.
TEST_F(Cli, NamesThePathLayerWouldChangeFailTheLock) {
    const struct {
        const char* folder;
        std::wstring name, other;
        const char* says;
    } cases[] = {
        {"dotted", L"x.", L"x", "dotted\\x."},
        {"spaced", L"y ", L"y", "spaced\\y "},
    };
    for (const auto& c : cases) {
        write_exact(dir() / c.folder, c.other, "another file");
        write_exact(dir() / c.folder, c.name, "its own content");
        const CliResult r = cli_with("pw", {"lock", "-o", "out.cry", c.folder});
        EXPECT_EQ(r.status, 14) << c.folder << "\n" << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir() / "out.cry")) << c.folder;
        // Removed by its own name: the temporary folder's cleanup cannot.
        delete_exact(dir() / c.folder, c.name);
    }
    // Given as an input itself, before the full path drops the dot.
    write_exact(dir(), L"z", "another file");
    write_exact(dir(), L"z.", "its own content");
    const CliResult r = cli_with("pw", {"lock", "-o", "out.cry", "z."});
    EXPECT_EQ(r.status, 14) << r.err;
    EXPECT_FALSE(fs::exists(dir() / "out.cry"));
    delete_exact(dir(), L"z.");
}
#endif

#ifndef _WIN32
// Names that Windows would take for one lock with 0 and a warning naming both
// (the archive restores whole here); two folders of one name there only pool
// what they hold and are not named.
TEST_F(Cli, NamesWindowsWouldMergeLockWithAWarning) {
    const fs::path tree = dir() / "tree";
    for (const char* name :
         {"README", "readme", "t", "t.", "s", "s ", "Build", "build/x", "Docs/a", "docs/b"})
        write_bytes(tree / name, name);
    const CliResult r = cli_with("pw", {"lock", "-o", "out.cry", "tree"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string root = fs::absolute(tree).string() + "/";
    std::vector<std::string> warnings;
    for (std::size_t at = 0, end; (end = r.err.find('\n', at)) != std::string::npos; at = end + 1)
        if (r.err.compare(at, 22, "korvane-cli: warning: ") == 0)
            warnings.push_back(r.err.substr(at, end - at));
    ASSERT_EQ(warnings.size(), 4u) << r.err;
    for (const auto& [one, other] :
         {std::pair{"README", "readme"}, {"t", "t."}, {"s", "s "}, {"Build", "build/x"}}) {
        const std::string a = "'" + root + one + "'", b = "'" + root + other + "'";
        EXPECT_EQ(std::count_if(warnings.begin(), warnings.end(),
                                [&](const std::string& w) {
                                    return w.find(a) != std::string::npos &&
                                           w.find(b) != std::string::npos;
                                }),
                  1)
            << one << "\n"
            << r.err;
    }
    ASSERT_EQ(cli_with("pw", {"unlock", "-o", "back", "out.cry"}).status, 0);
    EXPECT_EQ(snapshot(dir() / "back"), snapshot(tree));
}
#endif

#ifdef _WIN32
// A folder the path layer reads as another ("d." as "d", which is not there)
// cannot be listed: the lock fails naming it, as for a file it cannot read,
// instead of storing the tree without its files.
TEST_F(Cli, AFolderThatCannotBeListedFailsTheLock) {
    const std::wstring folder = L"\\\\?\\" + fs::absolute(dir() / "tree").wstring() + L"\\d.";
    fs::create_directories(dir() / "tree");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring inside = folder + L"\\inside.txt";
    const HANDLE file = CreateFileW(inside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    write_bytes(dir() / "tree" / "kept.txt", "kept");
    const CliResult r = cli_with("pw", {"lock", "-o", "out.cry", "tree"});
    EXPECT_EQ(r.status, 7) << r.err;
    EXPECT_NE(r.err.find("tree\\d."), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir() / "out.cry"));
    EXPECT_FALSE(fs::exists(dir() / "tree" / "d"));
    EXPECT_TRUE(DeleteFileW(inside.c_str()));
    EXPECT_TRUE(RemoveDirectoryW(folder.c_str()));
}
#endif

TEST_F(Cli, UsageErrorsGive64) {
    write_bytes(dir() / "in.txt", "input");
    ASSERT_EQ(encrypt({(dir() / "in.txt").string()}, dir() / "good.cry", "pw"), result_ok);
    const Args cases[] = {
        {},
        {"frobnicate", "in.txt"},
        {"lock"},
        {"lock", "-x", "in.txt"},
        {"lock", "--bogus", "in.txt"},
        {"lock", "-l", "10", "in.txt"},
        {"lock", "-l", "x", "in.txt"},
        {"lock", "in.txt", "-o"},
        {"lock", "--force=yes", "in.txt"},
        {"lock", "-j", "0", "in.txt"},
        {"lock", "--jobs", "x", "in.txt"},
        {"list", "-j", "2", "good.cry"},
        {"unlock", "good.cry", "other.cry"},
        {"unlock", "-l", "5", "good.cry"},
        {"list", "-o", "x", "good.cry"},
        {"test", "-f", "good.cry"},
        {"unlock"},
        {"list", "--name-code-page", "0", "good.cry"},
        {"test", "--name-code-page=x", "good.cry"},
        {"lock", "--name-code-page", "932", "in.txt"},
        // An unset variable must not make the root the destination.
        {"unlock", "-o", "", "good.cry"},
        {"unlock", "good.cry", "--output=//"},
        {"lock", "-o", "", "in.txt"},
    };
    const auto before = snapshot(dir());
    for (const Args& args : cases) {
        const CliResult r = cli_with("pw", args);
        EXPECT_EQ(r.status, 64) << testing::PrintToString(args) << "\n" << r.err;
        EXPECT_NE(r.err.find("usage: korvane-cli lock"), std::string::npos) << r.err;
    }
    EXPECT_EQ(snapshot(dir()), before);

    const CliResult help = cli({"lock", "--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage: korvane-cli lock", 0), 0u) << help.out;
    const CliResult version = cli({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("korvane-cli ", 0), 0u) << version.out;
}

TEST_F(Cli, OptionsGoAnywhereAndDoubleDashEndsThem) {
    write_bytes(dir() / "-q", "a file named like an option");
    write_bytes(dir() / "in.txt", "input");
    ASSERT_EQ(cli_with("pw", {"lock", "in.txt", "-qf", "-o", "after.cry", "-l9"}).status, 0);
    ASSERT_EQ(cli_with("pw", {"-q", "lock", "--output=dash.cry", "--", "-q"}).status, 0);
    const CliResult listed = cli({"list", "dash.cry"});
    EXPECT_NE(listed.out.find("  -q\n"), std::string::npos) << listed.out;
    EXPECT_EQ(cli({"list", "after.cry"}).status, 0);
}

TEST_F(Cli, PasswordSources) {
    write_bytes(dir() / "in.txt", "input");
    write_bytes(dir() / "crlf.txt", "right\r\nsecond line\r\n");
    write_bytes(dir() / "lf.txt", "right\nsecond line\n");
    write_bytes(dir() / "bare.txt", "right");
    write_bytes(dir() / "cr.txt", "right\r");  // a CR is dropped only before an LF
    write_bytes(dir() / "wrong.txt", "wrong\n");
    struct Case {
        const char* file;  // --password-file, or nullptr
        const char* env;   // KORVANE_PASSWORD, or nullptr
        int status;        // of unlocking an archive locked with "right"
    };
    const Case cases[] = {
        {"crlf.txt", nullptr, 0}, {"lf.txt", nullptr, 0},   {"bare.txt", nullptr, 0},
        {nullptr, "right", 0},    {"crlf.txt", "wrong", 0}, {"wrong.txt", "right", 1},
        {nullptr, "right\r", 1},  {"cr.txt", nullptr, 1},
    };
    ASSERT_EQ(cli({"lock", "-q", "in.txt", "--password-file", "crlf.txt"}).status, 0);
    for (const Case& c : cases) {
        std::optional<ScopedEnv> env;
        if (c.env) env.emplace("KORVANE_PASSWORD", c.env);
        Args args = {"unlock", "-f", "-o", "out", "in.cry"};
        if (c.file) args.insert(args.end(), {"--password-file", c.file});
        const CliResult r = cli(args);
        EXPECT_EQ(r.status, c.status)
            << (c.file ? c.file : "-") << " " << (c.env ? c.env : "-") << "\n"
            << r.err;
    }
    // Locked through the other source, opened through the first.
    ASSERT_EQ(cli_with("right", {"lock", "-q", "-f", "in.txt"}).status, 0);
    EXPECT_EQ(cli({"test", "in.cry", "--password-file", "lf.txt"}).status, 0);
}

TEST_F(Cli, OpeningTakesNonAsciiPasswordBytesAsGiven) {
    // Written by the GUI under some ANSI code page: "paß" in Windows-1252.
    const std::string password = "pa\xDF";
    write_bytes(dir() / "src" / "f.txt", "from elsewhere");
    ASSERT_EQ(encrypt({(dir() / "src").string()}, dir() / "foreign.cry", password), result_ok);
    write_bytes(dir() / "pw.txt", password + "\r\n");
    EXPECT_EQ(cli({"test", "foreign.cry", "--password-file", "pw.txt"}).status, 0);
    EXPECT_EQ(cli({"unlock", "foreign.cry", "--password-file", "pw.txt"}).status, 0);
    EXPECT_EQ(read_bytes(dir() / "foreign" / "f.txt"), "from elsewhere");
}

}  // namespace
}  // namespace korvane
