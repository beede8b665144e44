// The part of the path key that is the same rule on every system, kept as a
// pure function so that both builds can test the Windows rules.
#pragma once

#include <string>
#include <string_view>

namespace korvane::platform::detail {

// path_key without the case: with windows_rules '\\' separates too, a leading
// pair of separators stays, the last component loses its trailing dots and
// spaces and every other one trailing dot ("." and ".." excepted).
std::string path_key_form(std::string_view path, bool windows_rules);

}  // namespace korvane::platform::detail
