#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "settings/settings.h"

namespace korvane {
namespace {

// Portable mode wins whenever its file exists; otherwise the user's own file,
// unless there is no application data folder to hold it.
TEST(SettingsPath, PortableFileElsePerUserFile) {
    const std::string sep(1, platform::separator);
    const std::string beside =
        "C:" + sep + "Program Files" + sep + "Korvane File" + sep + "korvane.ini";
    const std::string app_data =
        "C:" + sep + "Users" + sep + "me" + sep + "AppData" + sep + "Roaming";
    const std::string per_user = app_data + sep + "Korvane File" + sep + "korvane.ini";
    const struct Case {
        const char* name;
        bool beside_exists;
        std::string app_data;
        std::string expected;
    } cases[] = {
        {"installed", false, app_data, per_user},
        {"portable", true, app_data, beside},
        {"trailing separator", false, app_data + sep, per_user},
        {"no application data, portable", true, "", beside},
        {"no application data at all", false, "", beside},
    };
    for (const Case& c : cases)
        EXPECT_EQ(settings_file_path(beside, c.beside_exists, c.app_data), c.expected) << c.name;
}

}  // namespace
}  // namespace korvane
