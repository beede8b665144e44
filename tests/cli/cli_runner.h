// Starts korvane-cli as a separate process, as a script would: stdin on the
// null device, stdout and stderr captured, in a chosen current folder.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace korvane::test {

struct CliResult {
    int status = -1;       // exit status; 128 + signal when a signal ended it
    std::string out, err;  // line ends as LF
};

// The korvane-cli built beside this test program.
std::string cli_path();

CliResult run_cli(const std::vector<std::string>& args, const std::string& cwd);

// Sets (or with nullopt removes) one environment variable of this process,
// and so of every process it starts, until destroyed.
class ScopedEnv {
  public:
    ScopedEnv(std::string name, std::optional<std::string> value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::optional<std::string> saved_;
};

}  // namespace korvane::test
