#include "ops/output_naming.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace korvane {
namespace {

// Writes a Windows-style example path with the platform's separator.
std::string p(std::string path) {
    return test::native_path(std::move(path), '\\');
}

TEST(TruncateName, CutsAtCharacterStarts) {
    const struct {
        const char* name;
        const char* kept;
    } cases[] = {
        {"", ""},
        {"Photos", "Photos"},
        {"exactly8", "exactly8"},
        {"ninechars", "ninechar"},
        {"Quarterly report", "Quarterl"},
    };
    for (const auto& c : cases) {
        std::string name = c.name;
        truncate_name(name, 8);
        EXPECT_EQ(name, c.kept) << c.name;
    }
}

#ifndef _WIN32
TEST(TruncateName, NeverSplitsAMultiByteCharacter) {
    // UTF-8 here; the win32 build tests the same rule in code page 932.
    std::string across = "abcdefg\xC3\xA9z";  // two-byte character at bytes 8 and 9
    truncate_name(across, 8);
    EXPECT_EQ(across, "abcdefg");
    std::string ends_at_limit = "abcdef\xC3\xA9z";  // character ends at byte 8
    truncate_name(ends_at_limit, 8);
    EXPECT_EQ(ends_at_limit, "abcdef\xC3\xA9");
}
#endif

TEST(OutputNaming, ExamplesFromTheUserGuide) {
    const platform::LocalTime now{2007, 3, 5, 9, 7, 0};
    const std::string out = p("D:\\out");
    const struct {
        const char* input;
        bool with_date;
        const char* output;
    } cases[] = {
        {"E:\\docs\\Quarterly report.xls", false, "D:\\out\\Quarterly report.cry"},
        {"E:\\docs\\Quarterly report.xls", true, "D:\\out\\Quarterly report(2007-03-05-09-07).cry"},
        {"E:\\docs\\archive.tar.gz", false, "D:\\out\\archive.tar.cry"},
        {"E:\\data\\Photos", false, "D:\\out\\Photos.cry"},
        {"E:\\data\\Photos\\", false, "D:\\out\\Photos.cry"},
        {"E:\\docs\\exactly8.txt", false, "D:\\out\\exactly8.cry"},
        {"E:\\docs\\ninechars.txt", false, "D:\\out\\ninechars.cry"},
    };
    for (const auto& c : cases) {
        const SourceParts parts = split_source(p(c.input));
        EXPECT_EQ(output_path_in(out, encrypted_file_name(parts.base_name, c.with_date, now)),
                  p(c.output))
            << c.input;
    }
    EXPECT_EQ(output_path_in(out, split_source(p("E:\\docs\\Quarterly report.cry")).base_name),
              p("D:\\out\\Quarterly report"));
}

TEST(OutputNaming, ExtensionIsFromTheLastDotOfTheLastComponent) {
    const struct {
        const char* input;
        const char* extension;
    } cases[] = {
        {"E:\\docs\\archive.tar.gz", ".gz"}, {"E:\\a.cry", ".cry"},  {"E:\\A.CRY", ".CRY"},
        {"E:\\dir.cry\\file", ""},           {".hidden", ".hidden"}, {"noext", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(split_source(p(c.input)).extension, c.extension) << c.input;
}

TEST(OutputNaming, SourceFolders) {
    const struct {
        const char* input;
        const char* folder;
        bool has_folder;
    } cases[] = {
        {"E:\\docs\\a.txt", "E:\\docs", true},
        {"E:\\docs\\sub\\", "E:\\docs", true},
        {"notes.txt", "", false},
        {"\\notes.txt", "", true},  // the current drive's root: \notes.cry, not \\notes.cry
#ifdef _WIN32
        {"E:\\notes.txt", "E:", true},  // the bare drive: E:\notes.cry with setting 1
        {"E:notes.txt", "E:", true},
#endif
    };
    for (const auto& c : cases) {
        const SourceParts parts = split_source(p(c.input));
        EXPECT_EQ(parts.folder, p(c.folder)) << c.input;
        EXPECT_EQ(parts.has_folder, c.has_folder) << c.input;
    }
#ifdef _WIN32
    const SourceParts root = split_source("E:\\notes.txt");
    EXPECT_EQ(output_path_in(root.folder, encrypted_file_name(root.base_name, false, {})),
              "E:\\notes.cry");
#endif
}

TEST(OutputNaming, OutputPathsNeverStartWithTwoSeparators) {
    const struct {
        const char* folder;
        const char* path;
    } cases[] = {
        {"", "\\a.cry"},    // source folder of "\a.txt"
        {"\\", "\\a.cry"},  // a user folder set to the current drive's root
        {"D:\\out", "D:\\out\\a.cry"},
        {"D:\\", "D:\\\\a.cry"},  // used as given: a doubled separator after a drive is harmless
    };
    for (const auto& c : cases)
        EXPECT_EQ(output_path_in(p(c.folder), "a.cry"), p(c.path)) << c.folder;
}

}  // namespace
}  // namespace korvane
