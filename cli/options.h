// The command line of korvane-cli: a command word, options and operands in
// any order, "--" ending the options.
#pragma once

#include <string>
#include <vector>

namespace korvane::cli {

enum class Command { none, lock, unlock, list, test, help, version };

struct Options {
    Command command = Command::none;
    std::vector<std::string> operands;  // after the command word
    std::string output;                 // -o
    bool has_output = false;
    int level = 6;  // -l
    bool has_level = false;
    bool force = false;         // -f
    bool quiet = false;         // -q
    int jobs = 0;               // -j: threads, 0 one per processor
    std::string password_file;  // --password-file
    bool has_password_file = false;
    unsigned name_code_page = 0;  // --name-code-page: 0 reads unflagged names as they are
};

// Parses the arguments after the program name. False, with a one-line reason
// in error, for a usage error.
bool parse_options(int argc, const char* const* argv, Options& options, std::string& error);

// The usage text, ending in a line end.
const char* usage_text();

}  // namespace korvane::cli
