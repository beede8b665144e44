// The ".cry" file type and the context-menu handler under HKEY_CLASSES_ROOT.
// Register operations return 1 when every entry was written and 0 at the
// first failure, leaving what was written before; the matching unregister
// removes such a partial registration. Nothing here shows a message. Strings
// are UTF-8; the registry gets them as UTF-16.
#pragma once

#include <cstdint>
#include <vector>

#include "shell/registry_entries.h"

namespace korvane {

// open_verb_name may be null: the "open" key then gets no default value.
int register_file_type(const char* extension, const char* class_name, const char* description,
                       const char* command_executable, const char* command_arguments,
                       const char* icon_file, int icon_index, std::uint32_t edit_flags,
                       std::uint32_t browser_flags, const char* open_verb_name);

// Deletes the extension's key and the class's keys, deepest first; a key
// that still has other subkeys (a verb of another program) stays.
void unregister_file_type(const char* extension, const char* class_name);

// class_id is the identifier text without braces. On a 64-bit Windows (the
// 32-bit program under WOW64, the 64-bit one natively) the class is split
// into two registry views: library_path goes into the 32-bit view and
// library64_path (the 64-bit build, for 64-bit hosts such as Explorer) into
// the 64-bit view; a null or empty library64_path leaves the 64-bit view
// out. On a 32-bit Windows only library_path is registered.
int register_context_menu_handler(const char* class_id, const char* description,
                                  const char* handler, const char* library_path,
                                  const char* library64_path = nullptr);
// Removes the class from every view that holds it, and the handler name.
void unregister_context_menu_handler(const char* class_id, const char* handler);

// 1 when both the in-process server key and the handler key exist in the
// view Explorer reads: the 64-bit one on a 64-bit Windows.
int is_context_menu_handler_registered(const char* class_id, const char* handler);

// Writes each entry (shell/registry_entries.h) in order: 1 when every one
// was written, 0 at the first failure, leaving what was written before.
int write_registry_entries(const std::vector<RegistryEntry>& entries);

// Whether this is a 64-bit Windows (the 32-bit program under WOW64, the
// 64-bit one always): then the handler's class is split into two views.
bool on_64bit_windows();

// Tells the shell that associations changed; 0 when SHChangeNotify is not
// available.
int notify_association_changed();

}  // namespace korvane
