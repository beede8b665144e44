// Stands in for Explorer holding the right-click handler: loads a library and
// keeps it loaded until the process is ended from outside, so an installer
// meets the library in use. tests/release/msi_test builds it for each width.
//
// Usage: hold_library LIBRARY READY
// READY is created once LIBRARY is loaded. Exit code 1 when the library or
// READY cannot be had, 2 on bad usage; otherwise the process never exits.
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fputs("usage: hold_library LIBRARY READY\n", stderr);
        return 2;
    }
    // Held for the process's whole life: that is the point of the program.
    if (!LoadLibraryW(argv[1])) {
        std::fprintf(stderr, "hold_library: LoadLibrary failed: %lu\n",
                     static_cast<unsigned long>(GetLastError()));
        return 1;
    }
    const HANDLE ready = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ready == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "hold_library: cannot create the ready file: %lu\n",
                     static_cast<unsigned long>(GetLastError()));
        return 1;
    }
    CloseHandle(ready);
    for (;;) Sleep(INFINITE);
}
