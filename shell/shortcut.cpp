#include "shell/shortcut.h"

#include <string>

#include "platform/platform.h"
#include "platform/win32/scoped_win.h"
#include "platform/win32/wide.h"
#include "shell/shell_paths.h"

namespace korvane {

using win::ComPtr;
using win::ComScope;
using win::widen;

int create_shortcut(const char* link_path, const char* arguments, const char* working_directory,
                    int icon_index) {
    const std::string executable = platform::executable_path();
    if (executable.empty() || !fits_path_limit(executable)) return 0;
    return create_shortcut_to(executable.c_str(), link_path, arguments, working_directory,
                              icon_index);
}

int create_shortcut_to(const char* target, const char* link_path, const char* arguments,
                       const char* working_directory, int icon_index) {
    // Without a desktop folder the path is empty; Save would invent a name.
    if (!link_path || !link_path[0] || !target || !target[0]) return 0;

    const ComScope com;
    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                link.put_void())) ||
        !link)
        return 0;

    // These setters only fill in the object; Save reports what matters.
    const std::wstring wide_target = widen(target);
    link->SetPath(wide_target.c_str());
    if (arguments) link->SetArguments(widen(arguments).c_str());
    if (working_directory) link->SetWorkingDirectory(widen(working_directory).c_str());
    if (icon_index != 0) link->SetIconLocation(wide_target.c_str(), icon_index);

    ComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.put_void())) || !file) return 0;

    const std::wstring wide_link = widen(link_path);
    if (wide_link.size() >= shell_path_size) return 0;
    return file->Save(wide_link.c_str(), TRUE) == S_OK ? 1 : 0;
}

}  // namespace korvane
