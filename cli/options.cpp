#include "cli/options.h"

#include <cstring>
#include <string>

#include "platform/platform.h"

namespace korvane::cli {

namespace {

// What each command accepts; anything else is a usage error. 'n' stands for
// --name-code-page, which has no short form.
struct CommandRule {
    const char* word;
    Command command;
    bool many_operands;
    const char* allowed;  // short option letters; 'p' stands for --password-file
};

constexpr CommandRule command_rules[] = {
    {"lock", Command::lock, true, "olfqpj"},
    {"unlock", Command::unlock, false, "ofqpjn"},
    {"list", Command::list, false, "n"},
    {"test", Command::test, false, "qpjn"},
};

struct LongOption {
    const char* name;
    char letter;
    bool takes_value;
};

constexpr LongOption long_options[] = {
    {"output", 'o', true},         {"level", 'l', true},         {"force", 'f', false},
    {"quiet", 'q', false},         {"password-file", 'p', true}, {"jobs", 'j', true},
    {"name-code-page", 'n', true},
};

constexpr int max_jobs = 256;

bool takes_value(char letter) {
    return letter == 'o' || letter == 'l' || letter == 'p' || letter == 'j' || letter == 'n';
}

class Parser {
  public:
    Parser(Options& options, std::string& error) : options_(options), error_(error) {}

    bool apply(char letter, const std::string& value) {
        seen_ += letter;
        switch (letter) {
            case 'o':
                // An unset variable in a script would otherwise name the root.
                if (value.find_first_not_of(platform::separator == '/' ? "/" : "/\\") ==
                    std::string::npos)
                    return fail("-o needs a name, not '" + value + "'");
                options_.output = value;
                options_.has_output = true;
                return true;
            case 'l':
                if (value.size() != 1 || value[0] < '0' || value[0] > '9')
                    return fail("the level must be a digit from 0 to 9, not '" + value + "'");
                options_.level = value[0] - '0';
                options_.has_level = true;
                return true;
            case 'j': {
                int jobs = 0;
                for (char c : value) {
                    if (c < '0' || c > '9' || jobs > max_jobs) {
                        jobs = 0;
                        break;
                    }
                    jobs = jobs * 10 + (c - '0');
                }
                if (jobs < 1 || jobs > max_jobs)
                    return fail("the number of jobs must be from 1 to " + std::to_string(max_jobs) +
                                ", not '" + value + "'");
                options_.jobs = jobs;
                return true;
            }
            case 'n': {
                unsigned code_page = 0;
                for (char c : value) {
                    if (c < '0' || c > '9' || code_page > 65535) {
                        code_page = 0;
                        break;
                    }
                    code_page = code_page * 10 + static_cast<unsigned>(c - '0');
                }
                std::string nothing;
                if (code_page == 0 || code_page > 65535 ||
                    !platform::from_code_page("", code_page, nothing))
                    return fail("'" + value + "' is no code page this system can read");
                options_.name_code_page = code_page;
                return true;
            }
            case 'p':
                options_.password_file = value;
                options_.has_password_file = true;
                return true;
            case 'f':
                options_.force = true;
                return true;
            case 'q':
                options_.quiet = true;
                return true;
        }
        return fail(std::string("unknown option '-") + letter + "'");
    }

    bool fail(const std::string& reason) {
        error_ = reason;
        return false;
    }

    const std::string& seen() const { return seen_; }

  private:
    Options& options_;
    std::string& error_;
    std::string seen_;
};

const char* display_name(char letter) {
    switch (letter) {
        case 'o':
            return "-o";
        case 'l':
            return "-l";
        case 'f':
            return "-f";
        case 'q':
            return "-q";
        case 'j':
            return "-j";
        case 'n':
            return "--name-code-page";
        default:
            return "--password-file";
    }
}

}  // namespace

bool parse_options(int argc, const char* const* argv, Options& options, std::string& error) {
    options = Options{};
    Parser parser(options, error);
    std::vector<std::string> words;
    bool help = false, version = false, options_ended = false;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (options_ended || arg.size() < 2 || arg[0] != '-') {
            words.push_back(arg);
        } else if (arg == "--") {
            options_ended = true;
        } else if (arg == "--help") {
            help = true;
        } else if (arg == "--version") {
            version = true;
        } else if (arg[1] == '-') {
            const std::size_t equals = arg.find('=');
            const std::string name =
                arg.substr(2, equals == std::string::npos ? equals : equals - 2);
            const LongOption* found = nullptr;
            for (const LongOption& o : long_options)
                if (name == o.name) found = &o;
            if (!found) return parser.fail("unknown option '--" + name + "'");
            std::string value;
            if (found->takes_value) {
                if (equals != std::string::npos) {
                    value = arg.substr(equals + 1);
                } else if (i + 1 < argc) {
                    value = argv[++i];
                } else {
                    return parser.fail("'--" + name + "' needs a value");
                }
            } else if (equals != std::string::npos) {
                return parser.fail("'--" + name + "' takes no value");
            }
            if (!parser.apply(found->letter, value)) return false;
        } else {
            // A cluster of short options: "-fq", "-l9", "-o out.cry".
            for (std::size_t k = 1; k < arg.size(); ++k) {
                const char letter = arg[k];
                if (letter == 'p' || !std::strchr("olfqj", letter))
                    return parser.fail(std::string("unknown option '-") + letter + "'");
                std::string value;
                if (takes_value(letter)) {
                    if (k + 1 < arg.size()) {
                        value = arg.substr(k + 1);
                    } else if (i + 1 < argc) {
                        value = argv[++i];
                    } else {
                        return parser.fail(std::string("'-") + letter + "' needs a value");
                    }
                    k = arg.size();
                }
                if (!parser.apply(letter, value)) return false;
            }
        }
    }
    if (help) {
        options.command = Command::help;
        return true;
    }
    if (version) {
        options.command = Command::version;
        return true;
    }
    if (words.empty()) return parser.fail("no command given");

    const CommandRule* rule = nullptr;
    for (const CommandRule& r : command_rules)
        if (words[0] == r.word) rule = &r;
    if (!rule) return parser.fail("unknown command '" + words[0] + "'");
    options.command = rule->command;
    options.operands.assign(words.begin() + 1, words.end());
    for (char letter : parser.seen())
        if (!std::strchr(rule->allowed, letter))
            return parser.fail(std::string(display_name(letter)) + " does not apply to " +
                               rule->word);
    if (options.operands.empty())
        return parser.fail(std::string(rule->word) + (rule->command == Command::lock
                                                          ? " needs a path"
                                                          : " needs an archive"));
    if (!rule->many_operands && options.operands.size() > 1)
        return parser.fail(std::string(rule->word) + " takes one archive");
    return true;
}

const char* usage_text() {
    return "usage: korvane-cli lock [-o OUT] [-l LEVEL] [-j N] [-f] [-q] PATH...\n"
           "       korvane-cli unlock [-o DEST] [-j N] [-f] [-q] [--name-code-page CP] ARCHIVE\n"
           "       korvane-cli list [--name-code-page CP] ARCHIVE\n"
           "       korvane-cli test [-j N] [-q] [--name-code-page CP] ARCHIVE\n"
           "       korvane-cli --help | --version\n"
           "\n"
           "  -o OUT|DEST    the archive to write, or the folder to extract into\n"
           "  -l LEVEL       compression level 0 to 9 (default 6)\n"
           "  -j N, --jobs N threads to use (default: one per processor)\n"
           "  -f             replace OUT, or extract into a folder that is not empty\n"
           "  -q             no progress display\n"
           "  --password-file FILE\n"
           "                 the password is the first line of FILE: every byte before\n"
           "                 its first LF, but a CR just before that LF\n"
           "  --name-code-page CP\n"
           "                 read names stored without the UTF-8 flag in code page CP\n"
           "                 (932 for Shift-JIS); by default as they are\n"
           "\n"
           "Without --password-file the password comes from KORVANE_PASSWORD, else it\n"
           "is asked on the terminal. Exit status: 0 done, 1-17 the job's failure,\n"
           "64 usage, 65 password refused, 66 no such input, 73 output in the way.\n";
}

}  // namespace korvane::cli
