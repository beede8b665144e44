#include <string>

#include "app/command_line.h"
#include "fuzz_targets.h"

namespace korvane::fuzz {

int command_line_target(const std::uint8_t* data, std::size_t size) {
    // The platform hands over a terminated string: stop at the first NUL.
    const std::string args(reinterpret_cast<const char*>(data), size);
    const std::string line = args.c_str();
    InputList inputs;
    const StartupMode mode = parse_command_line(line.c_str(), inputs);
    check(mode >= mode_unrecognised && mode <= mode_uninstall_elevated, "mode out of range");
    check(line.empty() == (mode == mode_none), "mode 0 exactly for an empty line");
    for (std::int32_t i = 0; i < inputs.count(); ++i) {
        const std::string entry = inputs.at(i);
        check(line.find(entry) != std::string::npos, "entry is not a substring of the line");
        check(entry.find(' ') == std::string::npos || line.find('"') != std::string::npos,
              "unquoted entry holds a space");
    }
    return 0;
}

}  // namespace korvane::fuzz
