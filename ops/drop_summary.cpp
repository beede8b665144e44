#include "ops/drop_summary.h"

#include <cstdio>

#include "archive/paths.h"
#include "platform/platform.h"

namespace korvane {

std::string format_size(std::uint64_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    static constexpr const char* units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(units)) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    // Truncated, not rounded: 1023.96 KB is not "1024 KB".
    if (value < 10.0)
        std::snprintf(text, sizeof text, "%d.%d %s", static_cast<int>(value),
                      static_cast<int>(value * 10.0) % 10, units[unit]);
    else
        std::snprintf(text, sizeof text, "%d %s", static_cast<int>(value), units[unit]);
    return text;
}

std::string drop_summary(const std::string& first_name, std::size_t count, std::uint64_t bytes) {
    std::string line = first_name;
    if (count == 2) line += " and 1 more item";
    if (count > 2) line += " and " + std::to_string(count - 1) + " more items";
    return line + ", " + format_size(bytes);
}

std::uint64_t total_size(const std::vector<std::string>& inputs) {
    std::uint64_t sum = 0;
    for (const std::string& input : inputs) {
        platform::FindData found;
        if (!platform::find_path(input.c_str(), found)) continue;
        if (!found.is_folder) {
            sum += found.size;
            continue;
        }
        FolderWalker walker(input);
        while (const FolderWalker::Record* file = walker.next())
            if (!file->data.is_folder) sum += file->data.size;
    }
    return sum;
}

}  // namespace korvane
