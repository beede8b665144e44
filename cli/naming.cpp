#include "cli/naming.h"

#include "archive/paths.h"
#include "cli/console.h"
#include "ops/output_naming.h"
#include "platform/platform.h"

namespace korvane::cli {

namespace {

bool is_separator(char c) {
    return c == '/' || c == platform::separator;
}

std::string base_name_or_whole(const std::string& name) {
    std::string base = split_source(name).base_name;
    return base.empty() ? name : base;
}

}  // namespace

std::string without_trailing_separators(const std::string& path) {
    // End of the last character that is not a separator.
    std::size_t keep = 0;
    for (std::size_t at = 0; at < path.size();) {
        const std::size_t n = platform::char_length(path.c_str() + at);
        if (n == 0) break;
        if (n > 1 || !is_separator(path[at])) keep = at + n;
        at += n;
    }
    if (keep == path.size()) return path;
    // Nothing but separators is the root; "C:\" stays, as "C:" would mean
    // the current folder of drive C.
    if (keep == 0) return path.substr(0, 1);
    if (platform::separator == '\\' && path[keep - 1] == ':') return path.substr(0, keep + 1);
    return path.substr(0, keep);
}

std::string default_archive_name(const std::string& input) {
    const std::string path = without_trailing_separators(input);
    const std::string last(last_component(path));
    if (last.empty()) return "archive.cry";
    if (last == "." || last == "..") {
        // The written name is no name, but the folder meant has one, unless
        // it is a root (whose full path has no last component).
        platform::FindData found;
        if (last_component(full_path(path)).empty() || !platform::find_path(path.c_str(), found) ||
            found.name.empty())
            return "archive.cry";
        return found.name + ".cry";
    }
    return base_name_or_whole(last) + ".cry";
}

std::string default_destination(const std::string& archive) {
    return base_name_or_whole(std::string(last_component(archive)));
}

}  // namespace korvane::cli
