#include "settings/settings.h"

#include "platform/platform.h"

namespace korvane {

Settings current_settings;

std::string settings_file_path(const std::string& beside_program, bool beside_program_exists,
                               const std::string& app_data) {
    if (beside_program_exists || app_data.empty()) return beside_program;
    std::string path = app_data;
    if (path.back() != '\\' && path.back() != '/') path += platform::separator;
    return path + settings_folder_name + platform::separator + settings_file_name;
}

}  // namespace korvane
