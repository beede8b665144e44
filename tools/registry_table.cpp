// korvane-registry-table: prints what install writes (shell/registry_entries.h)
// for a program at the given paths, one tab-separated record a line, for
// tools/pack-msi to turn into the MSI's registry and shortcut tables:
//   registry VIEW KEY NAME sz TEXT     (VIEW own, 32 or 64; NAME empty: default)
//   registry VIEW KEY NAME flags HEX   (four bytes, the number in hexadecimal)
//   shortcut NAME ARGUMENTS ICON_INDEX
// Built for the build machine, not for Windows.
// Usage: korvane-registry-table EXECUTABLE LIBRARY LIBRARY64 32|64
#include <cstdio>
#include <cstring>
#include <vector>

#include "shell/registry_entries.h"

namespace {

using namespace korvane;

const char* view_name(RegistryView view) {
    switch (view) {
        case RegistryView::wow32: return "32";
        case RegistryView::wow64: return "64";
        default: return "own";
    }
}

void print(const std::vector<RegistryEntry>& entries) {
    for (const RegistryEntry& e : entries) {
        if (e.is_flags)
            std::printf("registry\t%s\t%s\t%s\tflags\t%08x\n", view_name(e.view), e.key.c_str(),
                        e.name.c_str(), static_cast<unsigned>(e.flags));
        else
            std::printf("registry\t%s\t%s\t%s\tsz\t%s\n", view_name(e.view), e.key.c_str(),
                        e.name.c_str(), e.text.c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5 || (std::strcmp(argv[4], "32") != 0 && std::strcmp(argv[4], "64") != 0)) {
        std::fprintf(stderr, "usage: korvane-registry-table EXECUTABLE LIBRARY LIBRARY64 32|64\n");
        return 2;
    }
    const InstalledRegistration entries =
        installed_registration(argv[1], argv[2], argv[3], std::strcmp(argv[4], "64") == 0);
    if (entries.handler.empty() || entries.file_type.empty()) {
        std::fprintf(stderr, "korvane-registry-table: unusable paths\n");
        return 2;
    }
    print(entries.handler);
    print(entries.file_type);
    for (const ShortcutEntry& s : {lock_shortcut, unlock_shortcut})
        std::printf("shortcut\t%s\t%s\t%d\n", s.name, s.arguments, s.icon_index);
    return std::ferror(stdout) || std::fflush(stdout) != 0 ? 1 : 0;
}
