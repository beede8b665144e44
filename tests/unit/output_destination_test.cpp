// Which output path each combination of settings, existing files and answers
// gives; the questions are scripted, so no dialog appears.
#include "ops/output_destination.h"

#include <gtest/gtest.h>

#include <deque>
#include <set>
#include <string>
#include <vector>

#include "test_support.h"

namespace korvane {
namespace {

// Writes a Windows-style example path with the platform's separator.
std::string p(std::string path) {
    return test::native_path(std::move(path), '\\');
}

class ScriptedQuestions : public OutputQuestions {
public:
    std::set<std::string> folders, files;
    std::deque<std::optional<std::string>> browse_answers, save_answers;
    std::deque<bool> confirm_answers;
    std::vector<std::string> asked;  // every question, in order, with its title

    std::string desktop_folder() override { return p("C:\\Desk"); }
    std::string current_folder() override { return p("C:\\Here"); }
    platform::LocalTime now() override { return {2007, 3, 5, 9, 7, 0}; }
    bool exists_as_folder(const std::string& path) override { return folders.count(path) > 0; }
    bool exists_as_file(const std::string& path) override { return files.count(path) > 0; }
    std::optional<std::string> browse_folder(const char* title, bool new_style) override {
        asked.push_back(std::string(new_style ? "browse-new: " : "browse: ") + title);
        return next(browse_answers);
    }
    std::optional<std::string> save_file(const char* title, const std::string& folder) override {
        asked.push_back(std::string("save: ") + title + " in " + folder);
        return next(save_answers);
    }
    bool confirm_overwrite(const char* question) override {
        asked.push_back(std::string("confirm: ") + question);
        if (confirm_answers.empty()) return false;
        const bool yes = confirm_answers.front();
        confirm_answers.pop_front();
        return yes;
    }
    void show_error(const char* message) override { asked.push_back(std::string("error: ") + message); }

private:
    static std::optional<std::string> next(std::deque<std::optional<std::string>>& answers) {
        if (answers.empty()) return std::nullopt;
        auto a = answers.front();
        answers.pop_front();
        return a;
    }
};

struct Case {
    const char* why;
    std::int32_t direction;
    const char* input;
    std::int32_t destination;  // encrypt_path or decrypt_path
    std::int32_t naming;       // encrypt_file
    std::vector<const char*> existing_files, existing_folders;
    std::vector<std::optional<std::string>> browse, save;
    std::vector<bool> confirm;
    std::optional<std::string> expected;
    std::vector<std::string> questions;
};

class OutputDestination : public testing::TestWithParam<Case> {};

TEST_P(OutputDestination, FormsThePathOrStops) {
    const Case& c = GetParam();
    Settings settings;
    settings.encrypt_path = settings.decrypt_path = c.destination;
    settings.encrypt_file = c.naming;
    std::snprintf(settings.user_defined_encrypt_path, settings_path_size, "%s", p("D:\\enc").c_str());
    std::snprintf(settings.user_defined_decrypt_path, settings_path_size, "%s", p("D:\\dec").c_str());
    ScriptedQuestions ask;
    for (const char* f : c.existing_files) ask.files.insert(p(f));
    for (const char* f : c.existing_folders) ask.folders.insert(p(f));
    // The dialogs answer with platform paths too.
    for (const auto& a : c.browse) ask.browse_answers.push_back(a ? std::optional(p(*a)) : a);
    for (const auto& a : c.save) ask.save_answers.push_back(a ? std::optional(p(*a)) : a);
    ask.confirm_answers.assign(c.confirm.begin(), c.confirm.end());
    InputList inputs;
    inputs.add(p(c.input).c_str());
    inputs.add(p("E:\\other\\second.txt").c_str());

    const auto got = resolve_output_path(c.direction, inputs, settings, ask);
    EXPECT_EQ(got.has_value(), c.expected.has_value()) << c.why;
    if (got && c.expected) {
        EXPECT_EQ(*got, p(*c.expected)) << c.why;
    }
    std::vector<std::string> questions;
    for (const auto& q : c.questions) questions.push_back(p(q));
    EXPECT_EQ(ask.asked, questions) << c.why;
}

const std::string picked = "F:\\picked";

INSTANTIATE_TEST_SUITE_P(
    Cases, OutputDestination,
    testing::Values(
        Case{"desktop", 1, "E:\\docs\\Quarterly report.xls", 0, 0, {}, {}, {}, {}, {},
             "C:\\Desk\\Quarterly report.cry", {}},
        Case{"source folder, date stamp", 1, "E:\\docs\\Quarterly report.xls", 1, 1, {}, {}, {}, {}, {},
             "E:\\docs\\Quarterly report(2007-03-05-09-07).cry", {}},
        Case{"user folder", 1, "E:\\data\\Photos", 3, 0, {}, {}, {}, {}, {}, "D:\\enc\\Photos.cry", {}},
        Case{"no folder part: the current folder", 1, "notes.txt", 1, 0, {}, {}, {}, {}, {},
             "C:\\Here\\notes.cry", {}},
        Case{"out-of-range settings count as 0", 1, "E:\\a.txt", 7, 5, {}, {}, {}, {}, {},
             "C:\\Desk\\a.cry", {}},
        Case{"browse, then cancel", 1, "E:\\a.txt", 2, 0, {}, {}, {std::nullopt}, {}, {}, std::nullopt,
             {"browse: Please select a folder."}},
        Case{"browse", 1, "E:\\a.txt", 2, 0, {}, {}, {picked}, {}, {}, "F:\\picked\\a.cry",
             {"browse: Please select a folder."}},
        Case{"ask for the name only once, in the desktop", 1, "E:\\a.txt", 2, 2, {}, {}, {},
             {std::string("G:\\x.cry")}, {}, "G:\\x.cry",
             {"save: Please input the encryption file name. in C:\\Desk"}},
        Case{"existing file, yes", 1, "E:\\a.txt", 0, 0, {"C:\\Desk\\a.cry"}, {}, {}, {}, {true},
             "C:\\Desk\\a.cry",
             {"confirm: C:\\Desk\\a.cry\nA file with this name already exists. Do you wish to "
              "overwrite it?"}},
        Case{"existing file, no, then cancel", 1, "E:\\a.txt", 0, 0, {"C:\\Desk\\a.cry"}, {}, {},
             {std::nullopt}, {false}, std::nullopt,
             {"confirm: C:\\Desk\\a.cry\nA file with this name already exists. Do you wish to "
              "overwrite it?",
              "save: Input new File / Folder name in C:\\Desk"}},
        Case{"a folder of that name", 1, "E:\\a.txt", 0, 0, {}, {"C:\\Desk\\a.cry"}, {},
             {std::string("C:\\Desk\\b.cry")}, {}, "C:\\Desk\\b.cry",
             {"save: Input new File / Folder name in C:\\Desk"}},
        Case{"decryption folder", 2, "E:\\docs\\report.cry", 1, 0, {}, {}, {}, {}, {},
             "E:\\docs\\report", {}},
        Case{"the current drive's root, not a share", 1, "\\a.txt", 1, 0, {}, {}, {}, {}, {},
             "\\a.cry", {}},
        Case{"decryption in the current drive's root", 2, "\\a.cry", 1, 0, {}, {}, {}, {}, {},
             "\\a", {}},
        Case{"decryption into an existing folder, yes", 2, "E:\\r.cry", 3, 0, {}, {"D:\\dec\\r"}, {}, {},
             {true}, "D:\\dec\\r",
             {"confirm: D:\\dec\\r\nA folder with this name already exists. Do you wish to "
              "overwrite it?"}},
        Case{"decryption, existing folder, no: the chosen folder itself", 2, "E:\\r.cry", 3, 0, {},
             {"D:\\dec\\r"}, {picked}, {}, {false}, picked,
             {"confirm: D:\\dec\\r\nA folder with this name already exists. Do you wish to "
              "overwrite it?",
              "browse-new: The same File/Folder name already exists.\n Select a new name."}},
        Case{"decryption, a file in the way: no question first", 2, "E:\\r.cry", 3, 0, {"D:\\dec\\r"},
             {}, {std::nullopt}, {}, {}, std::nullopt,
             {"browse-new: The same File/Folder name already exists.\n Select a new name."}},
        // Windows trims "..." away: the folder would be D:\dec itself.
        Case{"decryption of an archive named by dots", 2, "E:\\....cry", 3, 0, {}, {}, {picked}, {},
             {}, picked,
             {"browse-new: The same File/Folder name already exists.\n Select a new name."}},
        // The whole name: older versions cut it to 8 bytes, all dots, trimmed away.
        Case{"decryption, dots then a letter: the name whole", 2, "E:\\....... x.cry", 3, 0, {},
             {}, {}, {}, {}, "D:\\dec\\....... x", {}}));

TEST(OutputDestinationLimits, TooLongInputIsRefusedAndTooLongOutputAsksForAName) {
    Settings settings;
    ScriptedQuestions ask;
    InputList inputs;
    inputs.add(p("E:\\" + std::string(300, 'x')).c_str());
    EXPECT_FALSE(resolve_output_path(1, inputs, settings, ask));
    EXPECT_EQ(ask.asked, std::vector<std::string>{std::string("error: ") + path_too_long_message});

    // The limit counts characters: 600 bytes of UTF-8 are 203 of them.
    std::string japanese = "E:\\";
    for (int i = 0; i < 200; ++i) japanese += "\xe6\x97\xa5";
    InputList wide_input;
    wide_input.add(p(japanese).c_str());
    ScriptedQuestions ask_wide;
    EXPECT_TRUE(resolve_output_path(1, wide_input, settings, ask_wide));
    EXPECT_TRUE(ask_wide.asked.empty());

    settings.encrypt_path = destination_user_folder;
    std::snprintf(settings.user_defined_encrypt_path, settings_path_size, "%s",
                  p("D:\\" + std::string(255, 'f')).c_str());
    InputList short_input;
    short_input.add(p("E:\\a.txt").c_str());
    ScriptedQuestions ask2;
    EXPECT_FALSE(resolve_output_path(1, short_input, settings, ask2));
    ASSERT_EQ(ask2.asked.size(), 1u);
    EXPECT_EQ(ask2.asked[0].rfind("save: Input new File / Folder name", 0), 0u);
}

}  // namespace
}  // namespace korvane
