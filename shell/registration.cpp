#include "shell/registration.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/win32/scoped_win.h"
#include "platform/win32/system_function.h"
#include "platform/win32/wide.h"
#include "shell/registry_entries.h"

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

// view is 0 (the process's own), KEY_WOW64_32KEY or KEY_WOW64_64KEY.
ScopedKey create_key(const std::string& name, REGSAM view = 0) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, widen(name).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS | view, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return {};
    return ScopedKey(key);
}

bool key_exists(const std::string& name, REGSAM view) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, widen(name).c_str(), 0, KEY_READ | view, &key) !=
        ERROR_SUCCESS)
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

void delete_key(const std::string& name, REGSAM view = 0) {
    // Missing keys, and keys that still hold subkeys, are left as they are.
    using DeleteKeyEx = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
    static const auto delete_key_ex =
        win::system_function<DeleteKeyEx>("advapi32.dll", "RegDeleteKeyExW");
    // Systems without it (32-bit ones before Vista) have only one view.
    const std::wstring wide = widen(name);
    if (view != 0 && delete_key_ex)
        delete_key_ex(HKEY_CLASSES_ROOT, wide.c_str(), view, 0);
    else
        RegDeleteKeyW(HKEY_CLASSES_ROOT, wide.c_str());
}

// The view Explorer reads: the 64-bit one on a 64-bit Windows.
REGSAM shell_view() {
    return on_64bit_windows() ? KEY_WOW64_64KEY : 0;
}

// Where the class lives: the process's own view on a 32-bit Windows, both
// views on a 64-bit one.
std::vector<REGSAM> class_views() {
    if (!on_64bit_windows()) return {0};
    return {KEY_WOW64_32KEY, KEY_WOW64_64KEY};
}

std::string server_key(const char* class_id) {
    return format("CLSID\\{%s}\\InprocServer32", class_id);
}

std::string handler_key(const char* handler) {
    return format("AllFilesystemObjects\\shellex\\ContextMenuHandlers\\%s", handler);
}

REGSAM view_flag(RegistryView view) {
    switch (view) {
        case RegistryView::wow32: return KEY_WOW64_32KEY;
        case RegistryView::wow64: return KEY_WOW64_64KEY;
        default: return 0;
    }
}

bool write_entry(const RegistryEntry& entry) {
    const ScopedKey key = create_key(entry.key, view_flag(entry.view));
    if (!key) return false;
    const char* name = entry.name.empty() ? nullptr : entry.name.c_str();
    return entry.is_flags ? set_flags(key.get(), name, entry.flags)
                          : set_string(key.get(), name, entry.text);
}

}  // namespace

// On a 64-bit Windows the class keys are split into a 32-bit and a 64-bit
// view; each host reads its own. The 64-bit program runs only there, the
// 32-bit one there under WOW64.
bool on_64bit_windows() {
    if constexpr (sizeof(void*) == 8) return true;
    using IsWow64 = BOOL(WINAPI*)(HANDLE, PBOOL);
    static const auto is_wow64 = win::system_function<IsWow64>("kernel32.dll", "IsWow64Process");
    BOOL wow64 = FALSE;
    return is_wow64 && is_wow64(GetCurrentProcess(), &wow64) && wow64;
}

int write_registry_entries(const std::vector<RegistryEntry>& entries) {
    for (const RegistryEntry& entry : entries)
        if (!write_entry(entry)) return 0;
    return 1;
}

int register_file_type(const char* extension, const char* class_name, const char* description,
                       const char* command_executable, const char* command_arguments,
                       const char* icon_file, int icon_index, std::uint32_t edit_flags,
                       std::uint32_t browser_flags, const char* open_verb_name) {
    const std::vector<RegistryEntry> entries =
        file_type_entries(extension, class_name, description, command_executable,
                          command_arguments, icon_file, icon_index, edit_flags, browser_flags,
                          open_verb_name);
    return !entries.empty() && write_registry_entries(entries) ? 1 : 0;
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
                                  const char* handler, const char* library_path,
                                  const char* library64_path) {
    const std::vector<RegistryEntry> entries = context_menu_handler_entries(
        class_id, description, handler, library_path, library64_path, on_64bit_windows());
    return !entries.empty() && write_registry_entries(entries) ? 1 : 0;
}

void unregister_context_menu_handler(const char* class_id, const char* handler) {
    if (!class_id || !handler) return;
    for (const REGSAM view : class_views()) {
        delete_key(server_key(class_id), view);
        delete_key(format("CLSID\\{%s}", class_id), view);
        delete_key(handler_key(handler), view);
    }
}

int is_context_menu_handler_registered(const char* class_id, const char* handler) {
    if (!class_id || !handler) return 0;
    const REGSAM view = shell_view();
    if (!key_exists(server_key(class_id), view)) return 0;
    return key_exists(handler_key(handler), view) ? 1 : 0;
}

int notify_association_changed() {
    // Looked up at run time: not every shell exports it.
    const ScopedLibrary shell(LoadLibraryA("Shell32.dll"));
    if (!shell) return 0;
    using ChangeNotify = void(WINAPI*)(LONG, UINT, LPCVOID, LPCVOID);
    const auto notify = win::library_function<ChangeNotify>(shell.get(), "SHChangeNotify");
    if (!notify) return 0;
    notify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
    return 1;
}

}  // namespace korvane
