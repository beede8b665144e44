#include "shell/shortcut.h"

#include "platform/win32/scoped_win.h"
#include "shell/shell_paths.h"

namespace korvane {

using win::ComPtr;
using win::ComScope;

int create_shortcut(const char* link_path, const char* arguments, const char* working_directory,
                    int icon_index) {
    char executable[shell_path_size] = {};
    const DWORD n = GetModuleFileNameA(nullptr, executable, sizeof executable);
    if (n == 0 || n >= sizeof executable) return 0;
    return create_shortcut_to(executable, link_path, arguments, working_directory, icon_index);
}

int create_shortcut_to(const char* target, const char* link_path, const char* arguments,
                       const char* working_directory, int icon_index) {
    // Without a desktop folder the path is empty; Save would invent a name.
    if (!link_path || !link_path[0] || !target || !target[0]) return 0;

    const ComScope com;
    IShellLinkA* raw_link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&raw_link))) ||
        !raw_link)
        return 0;
    const ComPtr<IShellLinkA> link(raw_link);

    // These setters only fill in the object; Save reports what matters.
    link->SetPath(target);
    if (arguments) link->SetArguments(arguments);
    if (working_directory) link->SetWorkingDirectory(working_directory);
    if (icon_index != 0) link->SetIconLocation(target, icon_index);

    IPersistFile* raw_file = nullptr;
    if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&raw_file))) ||
        !raw_file)
        return 0;
    const ComPtr<IPersistFile> file(raw_file);

    wchar_t wide[shell_path_size];
    if (MultiByteToWideChar(CP_ACP, 0, link_path, -1, wide, shell_path_size) == 0) return 0;
    return file->Save(wide, TRUE) == S_OK ? 1 : 0;
}

}  // namespace korvane
