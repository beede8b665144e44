#include "ops/drop_summary.h"

#include "archive/paths.h"
#include "platform/platform.h"

namespace korvane {

std::string drop_summary(const std::string& first_name, std::size_t count, std::uint64_t bytes) {
    // Appended piece by piece, where GCC 12's Release optimiser warns falsely
    // of an overlap in "literal" + std::string.
    std::string line = first_name;
    if (count == 2) line += " and 1 more item";
    if (count > 2) {
        line += " and ";
        line += std::to_string(count - 1);
        line += " more items";
    }
    line += ", ";
    line += format_size(bytes);
    return line;
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
