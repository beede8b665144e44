// The registry entries of the ".cry" file type and the context-menu handler,
// and the shortcuts, as data: install writes them, and the MSI's registry and
// shortcut tables are printed from the same lists (tools/registry_table.cpp), so that install and
// the installer package cannot drift apart. Portable: no Windows headers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvane {

// The handler and the file type this program registers.
inline constexpr const char* handler_class_id = "4B7D2A10-93E5-4c1f-A6B8-0F3C5E71D294";
inline constexpr const char* handler_name = "kvnmenu";
inline constexpr const char* handler_description = "Korvane ContextMenu Encryption";
inline constexpr const char* file_type_extension = ".cry";
inline constexpr const char* file_type_class = "cryfile";
inline constexpr const char* file_type_description = "Encryption file";
inline constexpr const char* file_type_verb = "Decryption";
// The shell puts the opened file's path in place of %1.
inline constexpr const char* file_type_arguments = "-d \"%1\"";

// Which registry view an entry goes to: the writing process's own (the only
// one on a 32-bit Windows), or the 32-bit or 64-bit view of a 64-bit Windows.
enum class RegistryView { own, wow32, wow64 };

// One value under HKEY_CLASSES_ROOT. Strings are UTF-8.
struct RegistryEntry {
    RegistryView view = RegistryView::own;
    std::string key;
    std::string name;        // empty: the key's default value
    bool is_flags = false;   // four bytes, REG_BINARY, little-endian; else REG_SZ text
    std::string text;
    std::uint32_t flags = 0;

    bool operator==(const RegistryEntry&) const = default;
};

// The file type's entries, in the order they are written; empty when an
// argument is missing or the command has no executable (it would run
// nothing). open_verb_name may be null: the "open" key then gets no default
// value.
std::vector<RegistryEntry> file_type_entries(const char* extension, const char* class_name,
                                             const char* description,
                                             const char* command_executable,
                                             const char* command_arguments, const char* icon_file,
                                             int icon_index, std::uint32_t edit_flags,
                                             std::uint32_t browser_flags,
                                             const char* open_verb_name);

// The handler's entries: on a 64-bit Windows the class in the 32-bit view
// with library_path and in the 64-bit view with library64_path (left out when
// that is null or empty), and the handler key in both; otherwise all in the
// own view with library_path. Empty when an argument is missing or
// library_path is empty (a server that can never load).
std::vector<RegistryEntry> context_menu_handler_entries(const char* class_id,
                                                        const char* description,
                                                        const char* handler,
                                                        const char* library_path,
                                                        const char* library64_path,
                                                        bool on_64bit_windows);

// The shortcuts install puts on the desktop (the MSI also into its Start
// menu folder): "NAME.lnk" to the executable with these arguments and the
// executable's icon of this index.
struct ShortcutEntry {
    const char* name;
    const char* arguments;
    int icon_index;
};
inline constexpr ShortcutEntry lock_shortcut = {"Lock File", "-c", 2};
inline constexpr ShortcutEntry unlock_shortcut = {"Unlock File", "-d", 3};

// What install registers for a program at executable with its handler
// libraries beside it: the handler, then the file type.
struct InstalledRegistration {
    std::vector<RegistryEntry> handler;
    std::vector<RegistryEntry> file_type;
};
InstalledRegistration installed_registration(const char* executable, const char* library_path,
                                             const char* library64_path, bool on_64bit_windows);

}  // namespace korvane
