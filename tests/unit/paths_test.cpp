#include "archive/paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/path_key.h"
#include "platform/platform.h"
#include "platform/reparse.h"
#include "temp_folder.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace korvane {
namespace {

using test::CurrentFolder;
using test::TempFolder;
using test::write_file;

// Test paths are written with '/' and meant with the platform's separator.
using test::native_path;

TEST(PathsTest, JoinPath) {
    struct Case {
        const char* folder;
        const char* name;
        std::size_t capacity;
        std::string expected;
        bool whole;
    };
    const Case cases[] = {
        {"a", "b", 64, native_path("a/b"), true},
        {"a/", "b", 64, native_path("a/b"), true},  // no second separator
        {"/", "b", 64, native_path("/b"), true},
        {"folder", "name", 9, native_path("folder/n"), false},  // cut to capacity - 1
        {"folder", "name", 12, native_path("folder/name"), true},
        {"folder", "name", 1, "", false},
    };
    for (const Case& c : cases) {
        const std::string folder = native_path(c.folder);
        char out[80];
        std::memset(out, 'x', sizeof out);
        EXPECT_EQ(join_path(folder.c_str(), c.name, out, c.capacity), c.whole) << folder;
        EXPECT_EQ(std::string(out), c.expected) << folder;
        EXPECT_EQ(out[c.capacity], 'x') << "wrote past capacity for " << folder;
    }
    EXPECT_EQ(join_path(native_path("x/y/"), "z"), native_path("x/y/z"));
}

TEST(PathsTest, SeparatorTranslation) {
    char buffer[16] = "a\\b/c\\d";
    to_archive_separators(buffer, buffer, 5);  // in place, only the first 5 bytes
    EXPECT_STREQ(buffer, "a/b/c");
    char out[16];
    to_platform_separators("x/y/z", out, 5);
    EXPECT_EQ(std::string(out), native_path("x/y/z"));
    to_archive_separators("", out, 0);
    EXPECT_STREQ(out, "");
}

TEST(PathsTest, HasDotComponent) {
    const std::pair<const char*, bool> cases[] = {
        {"a/../b", true},   {"a/.", true}, {"./a", true},      {"..", true},
        {"a\\..\\b", true}, {".", true},   {"a..b", false},    {".hidden", false},
        {"a/b", false},     {"", false},   {"a/.../b", false}, {"a/.b./c", false},
    };
    for (const auto& [name, expected] : cases) EXPECT_EQ(has_dot_component(name), expected) << name;
}

TEST(PathsTest, FirstComponent) {
    struct Case {
        const char* name;
        const char* stripped;  // nullptr: strip_first_component fails
        const char* cut;       // nullptr: cut_at_first_separator fails
    };
    const Case cases[] = {
        {"Reports/2007/a.doc", "2007/a.doc", "Reports"},
        {"a\\b\\c", "b\\c", "a"},
        {"/lead", "lead", ""},
        {"trail/", "", "trail"},
        {"single", nullptr, nullptr},
        {"", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        char strip[64], cut[64];
        std::strcpy(strip, c.name);
        std::strcpy(cut, c.name);
        EXPECT_EQ(strip_first_component(strip), c.stripped != nullptr) << c.name;
        EXPECT_STREQ(strip, c.stripped ? c.stripped : c.name);
        EXPECT_EQ(cut_at_first_separator(cut), c.cut != nullptr) << c.name;
        EXPECT_STREQ(cut, c.cut ? c.cut : c.name);
    }
}

TEST(PathsTest, ParentFolder) {
    struct Case {
        const char* path;
        std::size_t capacity;
        bool ok;
        const char* parent;
    };
    const Case cases[] = {
        {"a/b/c", 64, true, "a/b"}, {"name", 64, true, ""},  {"name", 1, true, ""},
        {"name", 0, false, ""},     {"abc/d", 3, false, ""}, {"abc/d", 4, true, "abc"},
        {"/x", 64, true, ""},
    };
    for (const Case& c : cases) {
        const std::string path = native_path(c.path);
        char out[64] = "untouched";
        EXPECT_EQ(parent_folder(path.c_str(), out, c.capacity), c.ok) << path;
        EXPECT_EQ(std::string(out), c.ok ? native_path(c.parent) : "untouched") << path;
    }
}

TEST(PathsTest, CreateFolderChain) {
    TempFolder tmp;
    const std::string chain = tmp / "out/x/y";
    ASSERT_TRUE(create_folder_chain(chain.c_str()));
    EXPECT_TRUE(platform::folder_exists((tmp / "out/x").c_str()));
    EXPECT_TRUE(platform::folder_exists(chain.c_str()));
    // Existing folders are passed over; a new one at the end is still made.
    EXPECT_TRUE(create_folder_chain((tmp / "out/x/y/z/").c_str()));
    EXPECT_TRUE(platform::folder_exists((tmp / "out/x/y/z").c_str()));

    ASSERT_TRUE(write_file(tmp / "out/file", "in the way"));
    EXPECT_FALSE(create_folder_chain((tmp / "out/file/z").c_str()));
    EXPECT_FALSE(platform::folder_exists((tmp / "out/file/z").c_str()));
    EXPECT_FALSE(create_folder_chain((tmp / "out/file").c_str()));

    // Nothing before the first separator is ever made.
    EXPECT_TRUE(create_folder_chain("korvane-never-made"));
    EXPECT_FALSE(platform::folder_exists("korvane-never-made"));
}

std::vector<FolderWalker::Record> walk(const std::string& folder) {
    std::vector<FolderWalker::Record> records;
    FolderWalker walker(folder);
    while (const FolderWalker::Record* r = walker.next()) records.push_back(*r);
    return records;
}

TEST(FolderWalkerTest, WalksFilesDepthFirst) {
    TempFolder tmp;
    ASSERT_TRUE(create_folder_chain((tmp / "root/sub/deeper").c_str()));
    ASSERT_TRUE(create_folder_chain((tmp / "root/empty").c_str()));
    const std::map<std::string, std::string> files = {
        {"a.txt", "a"}, {"z.txt", "zz"}, {"sub/b.txt", "bbb"}, {"sub/deeper/c.txt", "cccc"}};
    for (const auto& [relative, content] : files)
        ASSERT_TRUE(write_file(tmp / ("root/" + relative), content));

    const std::string root = tmp / "root";
    const auto records = walk(root);
    // The files, and the one folder with nothing in it.
    ASSERT_EQ(records.size(), files.size() + 1);
    std::vector<std::size_t> below_sub;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const auto& r = records[i];
        EXPECT_EQ(r.full_path, join_path(root, r.relative_path));
        if (r.data.is_folder) {
            EXPECT_EQ(r.relative_path, "empty");
            continue;
        }
        const auto expected = std::find_if(files.begin(), files.end(), [&](const auto& f) {
            return native_path(f.first) == r.relative_path;
        });
        ASSERT_NE(expected, files.end()) << r.relative_path;
        EXPECT_EQ(r.data.size, expected->second.size()) << r.relative_path;
        if (r.relative_path.rfind("sub", 0) == 0) below_sub.push_back(i);
    }
    // Depth first: the files below sub come as one run.
    ASSERT_EQ(below_sub.size(), 2u);
    EXPECT_EQ(below_sub[1], below_sub[0] + 1);
}

// A folder with nothing below it is yielded as itself, after its contents
// (the walked folder too, under an empty relative path); a folder that
// cannot be listed ends the walk and is named.
TEST(FolderWalkerTest, YieldsFoldersWithNothingBelowThemAndNamesAnUnlistedOne) {
    TempFolder tmp;
    ASSERT_TRUE(create_folder_chain((tmp / "only/empty/nested").c_str()));
    ASSERT_TRUE(create_folder_chain((tmp / "bare").c_str()));
    const struct {
        std::string folder;
        std::vector<std::string> yielded;  // relative paths, folders ending in '/'
        bool listed;
    } cases[] = {
        {tmp / "only", {native_path("empty/nested") + "/"}, true},
        {tmp / "bare", {"/"}, true},
        {tmp / "missing", {}, false},
    };
    for (const auto& c : cases) {
        FolderWalker walker(c.folder);
        std::vector<std::string> yielded;
        while (const FolderWalker::Record* r = walker.next())
            yielded.push_back(r->relative_path + (r->data.is_folder ? "/" : ""));
        EXPECT_EQ(yielded, c.yielded) << c.folder;
        EXPECT_EQ(walker.unlisted(), c.listed ? std::string() : c.folder);
    }
}

#ifndef _WIN32
TEST(FolderWalkerTest, EntersFolderLinksOnceAndDescribesFileLinksByTheirTarget) {
    TempFolder tmp;
    ASSERT_TRUE(create_folder_chain((tmp / "dir").c_str()));
    ASSERT_TRUE(write_file(tmp / "dir/file.txt", "12345"));
    ASSERT_TRUE(create_folder_chain((tmp / "other").c_str()));
    ASSERT_TRUE(write_file(tmp / "other/o.txt", "12345"));
    // Back up to the walked folder, which is not walked again, and across.
    ASSERT_EQ(symlink(tmp.path().c_str(), (tmp / "dir/loop").c_str()), 0);
    ASSERT_EQ(symlink((tmp / "other").c_str(), (tmp / "dir/linked").c_str()), 0);
    ASSERT_EQ(symlink((tmp / "dir/file.txt").c_str(), (tmp / "dir/alias.txt").c_str()), 0);

    const auto records = walk(tmp / "dir");
    std::vector<std::string> paths;
    for (const auto& r : records) paths.push_back(r.relative_path);
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{"alias.txt", "file.txt", "linked/o.txt",
                                               "loop/other/o.txt"}));
    for (const auto& r : records) {
        EXPECT_EQ(r.data.is_link, r.relative_path == "alias.txt");
        EXPECT_EQ(r.data.size, 5u) << "a link to a file is described by its target";
    }
}

// A pipe or device would block or never end the walk's reader, and leaving
// it out would lose it without a word: it ends the walk, named.
TEST(FolderWalkerTest, PipesEndTheWalkAndReadOnlyFilesAreReported) {
    TempFolder tmp;
    ASSERT_TRUE(create_folder_chain((tmp / "files").c_str()));
    ASSERT_TRUE(write_file(tmp / "files/locked", "x"));
    ASSERT_EQ(chmod((tmp / "files/locked").c_str(), 0444), 0);
    const auto records = walk(tmp / "files");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].relative_path, "locked");
    EXPECT_EQ(records[0].data.attributes, 0x01u);

    ASSERT_TRUE(create_folder_chain((tmp / "pipes").c_str()));
    ASSERT_EQ(mkfifo((tmp / "pipes/pipe").c_str(), 0600), 0);
    FolderWalker walker(tmp / "pipes");
    EXPECT_EQ(walker.next(), nullptr);
    EXPECT_EQ(walker.unlisted(), tmp / "pipes/pipe");
    platform::FindData pipe;
    ASSERT_TRUE(platform::find_path((tmp / "pipes/pipe").c_str(), pipe));
    EXPECT_EQ(pipe.attributes, 0x40u);
}
#endif

TEST(EntryNameTest, SafeNames) {
    struct Case {
        const char* name;
        bool native_ok;
        bool windows_ok;
    };
    const Case cases[] = {
        {"Reports/2007/a.doc", true, true},
        {"a..b/.hidden", true, true},
        {"/etc/passwd", false, false},
        {"\\windows\\win.ini", false, false},
        {"a/../../b", false, false},
        {"a\\..\\b", false, false},
        {"..", false, false},
        {"a/.", false, false},
        {"C:/evil", true, false},
        {"file.txt:stream", true, false},
        {"a/.../b", true, false},
        {"a/. /b", true, false},
        {".. /b", true, false},
        {"CON", true, false},
        {"dir/aux.c", true, false},
        {"Com1.txt", true, false},
        {"lpt9", true, false},
        {"nul .", true, false},
        {"conout$", true, false},
        {"COM0", true, false},
        {"lpt0.txt", true, false},
        {"dir /f.txt", true, false},  // the folder "dir " cannot be made
        {"dir./f.txt", true, true},   // opens dir/f.txt
        {"dir../f.txt", true, false},
        {"dir. /f.txt", true, false},
        {"dir/f.txt. ", true, false},
        {"x.", true, false},
        {"dir/x ", true, false},
        {"console", true, true},
        {"auxiliary.txt", true, true},
        {"a/com10", true, true},
        {"COM\u00b9", true, false},
        {"lpt\u00b3.txt", true, false},
        {"com\u00b2 .x", true, false},
        {"COM\u2074", true, true},
        {"LPT\u00b9\u00b9", true, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(is_safe_entry_name(c.name, false), c.native_ok) << c.name;
        EXPECT_EQ(is_safe_entry_name(c.name, true), c.windows_ok) << c.name;
    }
    EXPECT_EQ(windows_name_rules(), platform::separator == '\\');
}

TEST(PlatformTest, FindPathNamesTheFolderMeant) {
    TempFolder tmp;
    ASSERT_TRUE(create_folder_chain((tmp / "outer/inner").c_str()));
    ASSERT_TRUE(write_file(tmp / "outer/f.bin", "123"));
    const std::string tmp_name = std::filesystem::path(tmp.path()).filename().string();
    struct Case {
        std::string path;
        bool found;
        std::string name;
        bool is_folder;
    };
    const Case cases[] = {
        {tmp / "outer/", true, "outer", true},
        {tmp / "outer/inner/..", true, "outer", true},
        {tmp / "outer/.", true, "outer", true},
        {tmp / "outer/f.bin", true, "f.bin", false},
        {tmp / "outer/f.bin/", false, "", false},
        {tmp / "outer/missing", false, "", false},
        {".", true, "outer", true},
        {"..", true, tmp_name, true},
        {native_path("inner/"), true, "inner", true},
#ifdef _WIN32
        {"C:\\", true, "C", true},
#else
        {"/", true, "", true},
#endif
    };
    const CurrentFolder in_outer(tmp / "outer");
    for (const Case& c : cases) {
        platform::FindData found;
        ASSERT_EQ(platform::find_path(c.path.c_str(), found), c.found) << c.path;
        if (!c.found) continue;
        EXPECT_EQ(found.name, c.name) << c.path;
        EXPECT_EQ(found.is_folder, c.is_folder) << c.path;
        EXPECT_EQ((found.attributes & 0x10) != 0, c.is_folder) << c.path;
        if (!c.is_folder) {
            EXPECT_EQ(found.size, 3u);
        }
    }
}

TEST(PlatformTest, FileTimesRoundTrip) {
    TempFolder tmp;
    const std::string file = tmp / "dated";
    ASSERT_TRUE(write_file(file, "x"));
    struct Case {
        platform::LocalTime set;
        platform::LocalTime read;  // pre-1980 instants read as 1980-01-01 00:00
    };
    const Case cases[] = {
        {{2007, 3, 15, 10, 20, 30}, {2007, 3, 15, 10, 20, 30}},
        {{2007, 7, 1, 23, 59, 59}, {2007, 7, 1, 23, 59, 58}},
        {{1975, 6, 1, 12, 0, 0}, {1980, 1, 1, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(platform::set_file_times(file.c_str(), c.set)) << c.set.year;
        platform::FindData found;
        ASSERT_TRUE(platform::find_path(file.c_str(), found));
        const platform::LocalTime t = platform::to_local_time(found.last_write);
        EXPECT_EQ((std::vector<int>{t.year, t.month, t.day, t.hour, t.minute, t.second}),
                  (std::vector<int>{c.read.year, c.read.month, c.read.day, c.read.hour,
                                    c.read.minute, c.read.second}));
    }
    platform::FindData found;
    ASSERT_TRUE(platform::find_path(file.c_str(), found));
    EXPECT_EQ(found.last_write.date, 0x21);  // 1980-01-01
    EXPECT_EQ(found.last_write.time, 0);

    EXPECT_FALSE(platform::set_file_times(file.c_str(), {2007, 2, 29, 0, 0, 0}));
    EXPECT_FALSE(platform::set_file_times(file.c_str(), {2007, 13, 1, 0, 0, 0}));
    EXPECT_FALSE(platform::set_file_times((tmp / "missing").c_str(), {2007, 3, 15, 0, 0, 0}));
}

TEST(PlatformTest, FileOperations) {
    TempFolder tmp;
    const std::string from = tmp / "from", to = tmp / "to";
    ASSERT_TRUE(write_file(from, "new"));
    ASSERT_TRUE(write_file(to, "old contents"));
    ASSERT_TRUE(platform::replace_file(from.c_str(), to.c_str()));
    EXPECT_EQ(test::read_file(to), "new");
    platform::FindData found;
    EXPECT_FALSE(platform::find_path(from.c_str(), found));
    EXPECT_FALSE(platform::replace_file(from.c_str(), to.c_str()));

    std::FILE* created = platform::create_new_file(from.c_str());
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(std::fwrite("0123456789", 1, 10, created), 10u);
    EXPECT_EQ(platform::position_of(created), 10);
    EXPECT_TRUE(platform::seek_to(created, 3));
    EXPECT_EQ(platform::position_of(created), 3);
    EXPECT_EQ(std::fclose(created), 0);
    EXPECT_EQ(platform::create_new_file(from.c_str()), nullptr);
    EXPECT_EQ(test::read_file(from), "0123456789");

    EXPECT_TRUE(platform::delete_file(from.c_str()));
    EXPECT_FALSE(platform::delete_file(from.c_str()));
    EXPECT_TRUE(platform::create_folder((tmp / "made").c_str()));
    EXPECT_FALSE(platform::create_folder((tmp / "made").c_str()));
    EXPECT_FALSE(platform::folder_exists(to.c_str()));
}

// The walker's loop guard and the writer's refusal to read its own output
// both rest on this: every spelling of one file gives one identity.
TEST(PlatformTest, FileIdentitySeesThroughEverySpelling) {
    TempFolder tmp;
    ASSERT_TRUE(create_folder_chain((tmp / "Real folder/sub").c_str()));
    ASSERT_TRUE(write_file(tmp / "Real folder/f", "1"));
    ASSERT_TRUE(write_file(tmp / "Real folder/g", "1"));
#ifdef _WIN32
    char short_name[MAX_PATH];
    const std::string long_name = tmp / "Real folder";
    ASSERT_GT(GetShortPathNameA(long_name.c_str(), short_name, MAX_PATH), 0u);
    ASSERT_NE(std::string(short_name), long_name);
#else
    ASSERT_EQ(symlink((tmp / "Real folder").c_str(), (tmp / "link").c_str()), 0);
    ASSERT_EQ(link((tmp / "Real folder/f").c_str(), (tmp / "hard").c_str()), 0);
#endif
    const struct {
        std::string a, b;
        bool same;
    } cases[] = {
        {tmp / "Real folder", tmp / "Real folder/.", true},
        {tmp / "Real folder", tmp / "Real folder/sub/..", true},
        {tmp / "Real folder", tmp / "Real folder/sub", false},
        {tmp / "Real folder/f", tmp / "Real folder/g", false},
#ifdef _WIN32
        {tmp / "Real folder/f", tmp / "REAL FOLDER/F", true},
        {tmp / "Real folder", short_name, true},
        {tmp / "Real folder/f", std::string(short_name) + "\\f", true},
#else
        {tmp / "Real folder", tmp / "link", true},
        {tmp / "Real folder/f", tmp / "link/f", true},
        {tmp / "Real folder/f", tmp / "hard", true},
#endif
    };
    for (const auto& c : cases) {
        platform::FileIdentity a, b;
        ASSERT_TRUE(platform::file_identity(c.a.c_str(), a)) << c.a;
        ASSERT_TRUE(platform::file_identity(c.b.c_str(), b)) << c.b;
        EXPECT_EQ(a == b, c.same) << c.a << " / " << c.b;
        FileSet set;
        ASSERT_TRUE(set.add(c.a.c_str()));
        platform::FindData found;
        ASSERT_TRUE(platform::find_path(c.b.c_str(), found)) << c.b;
        EXPECT_EQ(set.contains(c.b.c_str(), found), c.same) << c.a << " / " << c.b;
        EXPECT_EQ(set.contains(c.b.c_str(), platform::FindData{}), c.same) << c.a << " / " << c.b;
    }
    platform::FileIdentity none;
    EXPECT_FALSE(platform::file_identity((tmp / "missing").c_str(), none));
    FileSet set;
    EXPECT_FALSE(set.add((tmp / "missing").c_str()));
    EXPECT_FALSE(set.contains((tmp / "missing").c_str(), platform::FindData{}));
}

// The engine orders entries by the key and the destination checks compare by
// it: two spellings get one key exactly when the file system of the build
// opens one file for both, which the Windows cases check against the file.
TEST(PlatformTest, PathKeyIsTheFileSystemsSameName) {
    const struct {
        const char* path;
        const char* posix;
        const char* windows;  // before the case is folded
    } forms[] = {
        {"", "", ""},
        {"t/a//b", "t/a/b", "t/a/b"},
        {"t/a/b/", "t/a/b", "t/a/b"},
        {"/", "/", "/"},
        {"//x///", "/x", "//x"},
        {"a\\b\\", "a\\b\\", "a/b"},
        {"\\\\srv\\share\\x", "\\\\srv\\share\\x", "//srv/share/x"},
        {"a.txt.", "a.txt.", "a.txt"},
        {"dir. /x. . ", "dir. /x. . ", "dir. /x"},
        {"dir../x", "dir../x", "dir./x"},
        {"dir /", "dir ", "dir "},
        {"x/.../y", "x/.../y", "x/../y"},
        {"...", "...", "."},
        {"a/./../b", "a/./../b", "a/./../b"},
        {"C:\\", "C:\\", "C:/"},
        {"C:", "C:", "C:"},
        {"\xE4/\xC3\xA4.", "\xE4/\xC3\xA4.", "\xE4/\xC3\xA4"},
    };
    for (const auto& f : forms) {
        EXPECT_EQ(platform::detail::path_key_form(f.path, false), f.posix) << f.path;
        EXPECT_EQ(platform::detail::path_key_form(f.path, true), f.windows) << f.path;
    }

    TempFolder tmp;
    ASSERT_TRUE(platform::create_folder((tmp / "sub").c_str()));
    const struct {
        const char *made, *other;
        bool same_on_posix, same_on_windows;
    } pairs[] = {
        {"sub/f", "sub//f", true, true},
        {"a.txt", "A.TXT", false, true},
        {"\xC3\x84.txt", "\xC3\xA4.TXT", false, true},  // Ä, ä
        {"\xD0\x96", "\xD0\xB6", false, true},          // Ж, ж
        {"x.txt", "x.txt. .", false, true},
        {"sub/g", "SUB\\G", false, true},
        {"sub/h", "sub./h", false, true},  // a folder loses one dot
        {"sub/i", "sub../i", false, false},
        {"sub/j", "sub /j", false, false},        // and keeps its spaces
        {"\xC3\x9F", "SS", false, false},         // ß is no SS to NTFS
        {"e\xCC\x81", "\xC3\xA9", false, false},  // nor a decomposed é the composed one
    };
    for (const auto& p : pairs) {
        const bool same = platform::path_key(p.made) == platform::path_key(p.other);
#ifdef _WIN32
        EXPECT_EQ(same, p.same_on_windows) << p.made << " / " << p.other;
        // What the key says, the file system says.
        const std::string made = tmp / p.made;
        ASSERT_TRUE(write_file(made, "1")) << p.made;
        platform::FileIdentity a, b;
        ASSERT_TRUE(platform::file_identity(made.c_str(), a)) << p.made;
        EXPECT_EQ(platform::file_identity((tmp / p.other).c_str(), b) && a == b, same)
            << p.made << " / " << p.other;
#else
        EXPECT_EQ(same, p.same_on_posix) << p.made << " / " << p.other;
#endif
    }

    const std::pair<const char*, bool> short_names[] = {
        {"PROGRA~1/x", true},
        {"a/DOCUME~12.TXT", true},
        {"a~", false},
        {"~", false},
        // Wine's short names hash the long one into letters and digits.
        {"LONG~ZXD.TXT", true},
        {"a~b", true},
        {"x/a~.b", false},
        {"a~-1", false},
    };
    for (const auto& [path, may] : short_names) EXPECT_EQ(platform::may_be_short_name(path), may);
}

// Windows tags from the find data: only those that stand for another name
// (symbolic links, junctions) make a link; cloud placeholders, deduplicated
// files, mounted volumes and other reparse points are archived like any file
// or folder.
TEST(PlatformTest, ReparsePointsAreLinksOnlyWhenTheyStandForAName) {
    constexpr std::uint32_t folder = 0x10, reparse_folder = 0x410, reparse_file = 0x420;
    const struct {
        const char* what;
        std::uint32_t attributes, tag;
        bool link;
        bool mounted_volume = false;  // what the system says of a mount point
    } cases[] = {
        {"symbolic link", reparse_folder, 0xA000000C, true},
        {"junction", reparse_folder, 0xA0000003, true},
        {"mounted volume", reparse_folder, 0xA0000003, false, true},
        {"symbolic link, never a volume", reparse_folder, 0xA000000C, true, true},
        {"WSL symbolic link", reparse_file, 0xA000001D, true},
        {"cloud files placeholder", reparse_folder, 0x9000001A, false},
        {"cloud files placeholder, another provider", reparse_folder, 0x9000F01A, false},
        {"OneDrive (older)", reparse_folder, 0x80000021, false},
        {"deduplicated file", reparse_file, 0x80000013, false},
        {"single-instance store", reparse_file, 0x80000007, false},
        {"app execution alias", reparse_file, 0x8000001B, false},
        {"no tag reported (Wine)", reparse_folder, 0, true},
        {"a stale tag without the attribute", folder, 0xA000000C, false},
        {"a plain folder", folder, 0, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::detail::is_link_reparse_point(c.attributes, c.tag, c.mounted_volume),
                  c.link)
            << c.what;
#ifdef _WIN32
        if (c.tag != 0 && (c.attributes & FILE_ATTRIBUTE_REPARSE_POINT) && !c.mounted_volume) {
            EXPECT_EQ(IsReparseTagNameSurrogate(c.tag) != 0, c.link) << c.what;
        }
#endif
    }
}

TEST(PlatformTest, SecureRandomAndExecutable) {
    unsigned char a[32] = {}, b[32] = {}, zero[32] = {};
    ASSERT_TRUE(platform::secure_random(a, sizeof a));
    ASSERT_TRUE(platform::secure_random(b, sizeof b));
    EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
    EXPECT_NE(std::memcmp(a, zero, sizeof a), 0);

    platform::FindData self;
    ASSERT_TRUE(platform::find_path(platform::executable_path().c_str(), self));
    EXPECT_FALSE(self.is_folder);
    EXPECT_GT(self.size, 0u);
}

#ifndef _WIN32
TEST(PlatformTest, Utf8CharacterLengths) {
    const std::pair<const char*, std::size_t> cases[] = {
        {"", 0},     {"a", 1},        {"\xC3\xA9", 2}, {"\xE8\xA1\xA8", 3}, {"\xF0\x9F\x98\x80", 4},
        {"\x80", 1}, {"\xE8\xA1", 2}, {"\xE8/", 1},
    };
    for (const auto& [s, length] : cases) EXPECT_EQ(platform::char_length(s), length) << s;
    EXPECT_TRUE(platform::is_lead_byte(0xE8));
    EXPECT_FALSE(platform::is_lead_byte(0xA8));
    EXPECT_FALSE(platform::is_lead_byte('/'));
}
#endif

}  // namespace
}  // namespace korvane
