// korvane-cli: the headless front end.
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "archive/result_code.h"
#include "cli/commands.h"
#include "cli/console.h"

#ifdef _WIN32
#include "platform/win32/wide.h"
#endif

namespace {

// Nothing may leave main as an exception: it would end the process without a
// status a script can read.
template <typename Run>
int guarded(Run run) {
    try {
        return run();
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s\n", korvane::result_message(korvane::result_out_of_memory));
        return korvane::result_out_of_memory;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "korvane-cli: %s\n", e.what());
        return 70;  // EX_SOFTWARE
    }
}

}  // namespace

#ifdef _WIN32
// The wide arguments, so paths in any script arrive; inside they are UTF-8.
int wmain(int argc, wchar_t** argv) {
    return guarded([&] {
        std::vector<std::string> args;
        for (int i = 1; i < argc; ++i) {
            // U+FFFD in its place would name another file.
            if (korvane::win::has_unpaired_surrogate(argv[i])) {
                korvane::cli::write_text(stderr, "korvane-cli: '" + korvane::win::narrow(argv[i]) +
                                                     "' holds an unpaired surrogate, which no "
                                                     "name inside this program can spell\n");
                return 64;  // EX_USAGE
            }
            args.push_back(korvane::win::narrow(argv[i]));
        }
        std::vector<const char*> pointers;
        for (const std::string& arg : args) pointers.push_back(arg.c_str());
        pointers.push_back(nullptr);
        return korvane::cli::run(static_cast<int>(args.size()), pointers.data());
    });
}
#else
int main(int argc, char** argv) {
    return guarded([&] { return korvane::cli::run(argc - 1, argv + 1); });
}
#endif
