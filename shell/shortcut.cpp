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
    ComPtr<IShellLinkA> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                link.put_void())) ||
        !link)
        return 0;

    // These setters only fill in the object; Save reports what matters.
    link->SetPath(target);
    if (arguments) link->SetArguments(arguments);
    if (working_directory) link->SetWorkingDirectory(working_directory);
    if (icon_index != 0) link->SetIconLocation(target, icon_index);

    ComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.put_void())) || !file) return 0;

    wchar_t wide[shell_path_size];
    if (MultiByteToWideChar(CP_ACP, 0, link_path, -1, wide, shell_path_size) == 0) return 0;
    return file->Save(wide, TRUE) == S_OK ? 1 : 0;
}

}  // namespace korvane
