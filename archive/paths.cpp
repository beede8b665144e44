#include "archive/paths.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

namespace korvane {

namespace {

using platform::char_length;

bool is_any_separator(char c) {
    return c == '/' || c == '\\';
}

bool is_path_separator(char c) {
    return c == '/' || c == platform::separator;
}

// The first single-byte character of s that satisfies test, or nullptr.
template <typename Test>
const char* find_single(const char* s, Test test) {
    for (std::size_t n; (n = char_length(s)) != 0; s += n) {
        if (n == 1 && test(*s)) return s;
    }
    return nullptr;
}

// The components between single-byte '/' and '\'; empty ones included.
std::vector<std::string_view> components_of(const char* name) {
    std::vector<std::string_view> parts;
    const char* start = name;
    for (const char* sep; (sep = find_single(start, is_any_separator)) != nullptr; start = sep + 1)
        parts.emplace_back(start, static_cast<std::size_t>(sep - start));
    parts.emplace_back(start);
    return parts;
}

// In UTF-8 a separator byte is always the separator itself.
bool ends_with_separator(std::string_view folder) {
    return !folder.empty() && folder.back() == platform::separator;
}

void translate_separators(const char* src, char* dst, std::size_t n, char from, char to) {
    if (src != dst) std::memmove(dst, src, n);
    dst[n] = '\0';
    // The terminator just written keeps every step inside the n bytes.
    for (std::size_t i = 0; i < n;) {
        std::size_t len = char_length(dst + i);
        if (len == 0) len = 1;  // a zero byte inside the n bytes is copied like any other
        if (len == 1 && dst[i] == from) dst[i] = to;
        i += len;
    }
}

// A component Windows path handling trims to "." or "..", or to nothing.
bool is_dots_and_spaces(std::string_view part) {
    return part.find('.') != std::string_view::npos &&
           part.find_first_not_of(". ") == std::string_view::npos;
}

bool equals_ignoring_case(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) {
                   return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
               };
               return lower(x) == lower(y);
           });
}

// Windows opens the device for "nul", "NUL.txt" or "nul ." in any folder.
bool is_device_name(std::string_view part) {
    std::string_view base = part.substr(0, part.find('.'));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    static constexpr std::array<std::string_view, 6> plain = {"con", "prn",    "aux",
                                                              "nul", "conin$", "conout$"};
    for (std::string_view device : plain) {
        if (equals_ignoring_case(base, device)) return true;
    }
    if (base.size() < 4) return false;
    const std::string_view stem = base.substr(0, 3), digit = base.substr(3);
    if (!equals_ignoring_case(stem, "com") && !equals_ignoring_case(stem, "lpt")) return false;
    // The superscript digits (U+00B9, U+00B2, U+00B3) name ports too.
    static constexpr std::array<std::string_view, 3> superscripts = {"\xC2\xB9", "\xC2\xB2",
                                                                     "\xC2\xB3"};
    return (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') ||
           std::find(superscripts.begin(), superscripts.end(), digit) != superscripts.end();
}

// Makes sure one prefix of a chain is a folder.
bool ensure_folder(const std::string& path) {
    platform::FindData found;
    if (platform::find_path(path.c_str(), found)) return found.is_folder;
    // Someone else may have made it between the look-up and now.
    return platform::create_folder(path.c_str()) || platform::folder_exists(path.c_str());
}

}  // namespace

std::string join_path(std::string_view folder, std::string_view name) {
    std::string joined;
    joined.reserve(folder.size() + 1 + name.size());
    joined.append(folder);
    if (!ends_with_separator(folder)) joined += platform::separator;
    joined.append(name);
    return joined;
}

bool join_path(const char* folder, const char* name, char* out, std::size_t capacity) {
    // Built apart first, so out may be the folder's own buffer.
    const std::string joined = join_path(folder ? folder : "", name ? name : "");
    if (capacity == 0) return false;
    const std::size_t n = std::min(joined.size(), capacity - 1);
    std::memcpy(out, joined.data(), n);
    out[n] = '\0';
    return n == joined.size();
}

void to_archive_separators(const char* src, char* dst, std::size_t n) {
    translate_separators(src, dst, n, '\\', '/');
}

void to_platform_separators(const char* src, char* dst, std::size_t n) {
    translate_separators(src, dst, n, '/', platform::separator);
}

bool has_dot_component(const char* name) {
    if (!name) return false;
    for (std::string_view part : components_of(name)) {
        if (part == "." || part == "..") return true;
    }
    return false;
}

bool cut_at_first_separator(char* name) {
    const char* sep = name ? find_single(name, is_any_separator) : nullptr;
    if (!sep) return false;
    name[sep - name] = '\0';
    return true;
}

bool strip_first_component(char* name) {
    const char* sep = name ? find_single(name, is_any_separator) : nullptr;
    if (!sep) return false;
    std::memmove(name, sep + 1, std::strlen(sep + 1) + 1);
    return true;
}

bool parent_folder(const char* path, char* out, std::size_t capacity) {
    if (!path) return false;
    std::size_t length = 0;
    for (std::size_t i = 0, n; (n = char_length(path + i)) != 0; i += n) {
        if (n == 1 && path[i] == platform::separator) length = i;
    }
    if (capacity < length + 1) return false;
    std::memmove(out, path, length);
    out[length] = '\0';
    return true;
}

bool create_folder_chain(const char* folder) {
    if (!folder) return false;
    // A plain byte search, as the first separator only marks where the drive
    // (or the root) ends.
    const char* first = std::strchr(folder, platform::separator);
    if (!first || first[1] == '\0') return true;
    try {
        const std::string path = folder;
        for (std::size_t i = static_cast<std::size_t>(first - folder) + 1;;) {
            const std::size_t n = char_length(path.c_str() + i);
            if (n == 0) return ensure_folder(path);
            if (n == 1 && is_path_separator(path[i]) && !ensure_folder(path.substr(0, i)))
                return false;
            i += n;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool is_safe_entry_name(const char* name, bool windows_rules) {
    if (!name || is_any_separator(name[0]) || has_dot_component(name)) return false;
    if (!windows_rules) return true;
    if (find_single(name, [](char c) { return c == ':'; })) return false;
    const std::vector<std::string_view> parts = components_of(name);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        std::string_view part = parts[i];
        if (is_dots_and_spaces(part) || is_device_name(part)) return false;
        // A folder keeps its spaces and all but one trailing dot; a file
        // would lose them all and become its neighbour without the dot.
        if (part.empty()) continue;
        if (i + 1 < parts.size() && part.back() == '.') part.remove_suffix(1);
        if (!part.empty() && (part.back() == '.' || part.back() == ' ')) return false;
    }
    return true;
}

bool is_trimmed_away(std::string_view component) {
    return is_dots_and_spaces(component) && component != "." && component != "..";
}

bool is_storable_name(std::string_view name, bool windows_rules) {
    if (!windows_rules) return name.find('\\') == std::string_view::npos;
    return name.empty() || (name.back() != '.' && name.back() != ' ');
}

bool is_storable_input(std::string_view path, bool windows_rules) {
    const std::string_view own = last_component(path);
    return own.empty() || own == "." || own == ".." || is_storable_name(own, windows_rules);
}

std::string_view last_component(std::string_view path) {
    while (path.size() > 1 && is_path_separator(path.back())) path.remove_suffix(1);
    std::size_t start = 0;
    for (std::size_t at = 0, n; at < path.size(); at += n) {
        n = char_length(path.data() + at);
        if (n == 0) break;
        if (n == 1 && (is_path_separator(path[at]) || (windows_name_rules() && path[at] == ':')))
            start = at + 1;
    }
    return path.substr(start);
}

bool FileSet::add(const char* path) {
    Member member;
    std::uint32_t names = 0;
    platform::FindData found;  // the name as the file system has it, not as spelled
    if (!platform::file_identity(path, member.identity, &names) ||
        !platform::find_path(path, found))
        return false;
    member.name_key = platform::path_key(found.name);
    member.only_by_name = names == 1 && !found.is_link && !platform::may_be_short_name(found.name);
    members_.push_back(std::move(member));
    return true;
}

bool FileSet::contains(const char* path, const platform::FindData& found) const {
    if (members_.empty()) return false;  // spares a look-up per file
    const std::string name_key = platform::path_key(found.name);
    if (!found.name.empty() && std::all_of(members_.begin(), members_.end(), [&](const Member& m) {
            return m.only_by_name && m.name_key != name_key;
        }))
        return false;
    platform::FileIdentity identity;
    return platform::file_identity(path, identity) &&
           std::any_of(members_.begin(), members_.end(),
                       [&](const Member& m) { return m.identity == identity; });
}

bool fits_system_path(std::string_view path) {
    std::size_t units = 0;
    for (const char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        // A lead byte or ASCII starts a unit; a four-byte sequence is two.
        if ((byte & 0xC0) != 0x80) ++units;
        if (byte >= 0xF0) ++units;
    }
    return units <= 32767;
}

FolderWalker::FolderWalker(std::string folder) : root_(std::move(folder)) {}

FolderWalker::~FolderWalker() = default;

const FolderWalker::Record* FolderWalker::next() {
    if (!started_) {
        started_ = true;
        platform::FindData root;
        if (!platform::find_path(root_.c_str(), root)) root.is_folder = true;
        enter(root_, {}, std::move(root));
    }
    constexpr std::uint32_t attribute_device = 0x40;
    platform::FindData found;
    while (!levels_.empty()) {
        if (!levels_.back().entries->next(found)) {
            Level done = std::move(levels_.back());
            levels_.pop_back();
            if (done.entries->failed()) {
                // Its files would be missing from the archive without a word.
                unlisted_ = done.entries->failed_at();
                levels_.clear();
                return nullptr;
            }
            if (!levels_.empty()) levels_.back().yielded = true;
            if (done.yielded) continue;
            record_.full_path = std::move(done.path);
            record_.relative_path = std::move(done.relative);
            record_.data = std::move(done.data);
            return &record_;
        }
        Level& level = levels_.back();
        std::string full = join_path(level.path, found.name);
        std::string relative =
            level.relative.empty() ? found.name : level.relative + platform::separator + found.name;
        // A folder whose name has no exact spelling here would be opened as
        // another one: it is yielded itself, for the caller to refuse.
        if (found.is_folder && found.name_exact) {
            // The nested folder is walked to its end before this one goes on;
            // a link to a folder is walked as a folder given as an input is.
            enter(std::move(full), std::move(relative), std::move(found));
            continue;
        }
        // A pipe or device could be read forever, and leaving it out would
        // lose it without a word.
        if (found.attributes & attribute_device) {
            unlisted_ = std::move(full);
            levels_.clear();
            return nullptr;
        }
        level.yielded = true;
        record_.full_path = std::move(full);
        record_.relative_path = std::move(relative);
        record_.data = std::move(found);
        return &record_;
    }
    return nullptr;
}

void FolderWalker::enter(std::string path, std::string relative, platform::FindData data) {
    std::optional<platform::FileIdentity> identity;
    platform::FileIdentity found;
    if (platform::file_identity(path.c_str(), found)) identity = found;
    if (identity && std::any_of(levels_.begin(), levels_.end(),
                                [&](const Level& level) { return level.identity == identity; })) {
        // Not walked again, and not empty either: its parent keeps no entry.
        levels_.back().yielded = true;
        return;
    }
    auto entries = std::make_unique<platform::FolderEnum>(path.c_str());
    levels_.push_back(
        {std::move(entries), std::move(path), std::move(relative), identity, std::move(data)});
}

}  // namespace korvane
