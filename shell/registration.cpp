#include "shell/registration.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/win32/scoped_win.h"
#include "platform/win32/wide.h"

namespace korvane {

using win::ScopedKey;
using win::ScopedLibrary;
using win::widen;

namespace {

[[gnu::format(printf, 1, 2)]] std::string format(const char* pattern, ...) {
    va_list args;
    va_start(args, pattern);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, pattern, args);
    va_end(args);
    std::string text;
    if (n > 0) {
        text.resize(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(text.data(), text.size(), pattern, again);
        text.resize(static_cast<std::size_t>(n));
    }
    va_end(again);
    return text;
}

ScopedKey create_key(const std::string& name) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, widen(name).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return {};
    return ScopedKey(key);
}

bool key_exists(const std::string& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, widen(name).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    const ScopedKey opened(key);
    return true;
}

// The default value for a null name.
std::wstring value_name_of(const char* name) {
    return name ? widen(name) : std::wstring();
}

// UTF-8 in, UTF-16 in the registry, so that a path in any script survives;
// the size counts the terminating NUL.
bool set_string(HKEY key, const char* value_name, const std::string& data) {
    const std::wstring text = widen(data);
    return RegSetValueExW(key, value_name_of(value_name).c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// Four bytes, little-endian, whatever the host order.
bool set_flags(HKEY key, const char* value_name, std::uint32_t flags) {
    const BYTE data[4] = {static_cast<BYTE>(flags), static_cast<BYTE>(flags >> 8),
                          static_cast<BYTE>(flags >> 16), static_cast<BYTE>(flags >> 24)};
    return RegSetValueExW(key, value_name_of(value_name).c_str(), 0, REG_BINARY, data,
                          sizeof data) == ERROR_SUCCESS;
}

// Creates a key and gives it a default value.
bool write_default(const std::string& key_name, const std::string& data) {
    const ScopedKey key = create_key(key_name);
    return key && set_string(key.get(), nullptr, data);
}

void delete_key(const std::string& name) {
    // Missing keys, and keys that still hold subkeys, are left as they are.
    RegDeleteKeyW(HKEY_CLASSES_ROOT, widen(name).c_str());
}

}  // namespace

int register_file_type(const char* extension, const char* class_name, const char* description,
                       const char* command_executable, const char* command_arguments,
                       const char* icon_file, int icon_index, std::uint32_t edit_flags,
                       std::uint32_t browser_flags, const char* open_verb_name) {
    // Without the executable the open command would run nothing.
    if (!extension || !class_name || !description || !command_executable ||
        !command_executable[0] || !command_arguments || !icon_file)
        return 0;

    if (!write_default(extension, class_name)) return 0;
    {
        const ScopedKey key = create_key(class_name);
        if (!key || !set_string(key.get(), nullptr, description) ||
            !set_flags(key.get(), "EditFlags", edit_flags) ||
            !set_flags(key.get(), "BrowserFlags", browser_flags))
            return 0;
    }
    if (!write_default(format("%s\\DefaultIcon", class_name),
                       format("%s,%d", icon_file, icon_index)))
        return 0;
    if (!write_default(format("%s\\shell\\open\\Command", class_name),
                       format("\"%s\" %s", command_executable, command_arguments)))
        return 0;
    if (!open_verb_name) return 1;
    return write_default(format("%s\\shell\\open", class_name), open_verb_name) ? 1 : 0;
}

void unregister_file_type(const char* extension, const char* class_name) {
    if (!extension || !class_name) return;
    delete_key(extension);
    // Deepest first: a key that still has subkeys is not deleted.
    delete_key(format("%s\\DefaultIcon", class_name));
    delete_key(format("%s\\shell\\open\\Command", class_name));
    delete_key(format("%s\\shell\\open", class_name));
    delete_key(format("%s\\shell", class_name));
    delete_key(class_name);
}

int register_context_menu_handler(const char* class_id, const char* description,
                                  const char* handler, const char* library_path) {
    // An empty library path (one that did not fit) would register a server
    // that can never load.
    if (!class_id || !description || !handler || !library_path || !library_path[0]) return 0;

    if (!write_default(format("CLSID\\{%s}", class_id), description)) return 0;
    {
        const ScopedKey key = create_key(format("CLSID\\{%s}\\InprocServer32", class_id));
        if (!key || !set_string(key.get(), nullptr, library_path) ||
            !set_string(key.get(), "ThreadingModel", "Apartment"))
            return 0;
    }
    return write_default(format("AllFilesystemObjects\\shellex\\ContextMenuHandlers\\%s", handler),
                         format("{%s}", class_id))
               ? 1
               : 0;
}

void unregister_context_menu_handler(const char* class_id, const char* handler) {
    if (!class_id || !handler) return;
    delete_key(format("CLSID\\{%s}\\InprocServer32", class_id));
    delete_key(format("CLSID\\{%s}", class_id));
    delete_key(format("AllFilesystemObjects\\shellex\\ContextMenuHandlers\\%s", handler));
}

int is_context_menu_handler_registered(const char* class_id, const char* handler) {
    if (!class_id || !handler) return 0;
    if (!key_exists(format("CLSID\\{%s}\\InprocServer32", class_id))) return 0;
    return key_exists(format("AllFilesystemObjects\\shellex\\ContextMenuHandlers\\%s", handler))
               ? 1
               : 0;
}

int notify_association_changed() {
    // Looked up at run time: not every shell exports it.
    const ScopedLibrary shell(LoadLibraryA("Shell32.dll"));
    if (!shell) return 0;
    const FARPROC proc = GetProcAddress(shell.get(), "SHChangeNotify");
    if (!proc) return 0;
    using ChangeNotify = void(WINAPI*)(LONG, UINT, LPCVOID, LPCVOID);
    // Through void(*)(): the one function-pointer cast GCC does not flag.
    const auto notify = reinterpret_cast<ChangeNotify>(reinterpret_cast<void (*)()>(proc));
    notify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    return 1;
}

}  // namespace korvane
