// korvane-cli's commands: lock, unlock, list and test over the same workers
// and reader the GUI uses.
#pragma once

namespace korvane::cli {

// Runs the command line (without the program name) and returns the exit
// status: 0, a result code 1-17, or a refusal (64, 65, 66, 73).
int run(int argc, const char* const* argv);

}  // namespace korvane::cli
