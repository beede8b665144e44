// korvane-cli: the headless front end.
#include <cstdio>
#include <exception>
#include <new>

#include "archive/result_code.h"
#include "cli/commands.h"

int main(int argc, char** argv) {
    // Nothing may leave main as an exception: it would end the process
    // without a status a script can read.
    try {
        return korvane::cli::run(argc - 1, argv + 1);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s\n", korvane::result_message(korvane::result_out_of_memory));
        return korvane::result_out_of_memory;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "korvane-cli: %s\n", e.what());
        return 70;  // EX_SOFTWARE
    }
}
