#include "shell/registry_entries.h"

#include <initializer_list>
#include <string_view>

namespace korvane {

namespace {

// Appends rather than "literal" + string: GCC 12 warns wrongly (-Wrestrict)
// about the latter in a Release build.
std::string join(std::initializer_list<std::string_view> parts) {
    std::string text;
    for (const std::string_view part : parts) text.append(part);
    return text;
}

RegistryEntry text_entry(RegistryView view, std::string key, std::string name, std::string text) {
    RegistryEntry entry;
    entry.view = view;
    entry.key = std::move(key);
    entry.name = std::move(name);
    entry.text = std::move(text);
    return entry;
}

RegistryEntry flags_entry(std::string key, std::string name, std::uint32_t flags) {
    RegistryEntry entry;
    entry.key = std::move(key);
    entry.name = std::move(name);
    entry.is_flags = true;
    entry.flags = flags;
    return entry;
}

void add_class(std::vector<RegistryEntry>& entries, RegistryView view, const std::string& class_id,
               const char* description, const char* library) {
    const std::string key = join({"CLSID\\{", class_id, "}"});
    const std::string server = join({key, "\\InprocServer32"});
    entries.push_back(text_entry(view, key, "", description));
    entries.push_back(text_entry(view, server, "", library));
    entries.push_back(text_entry(view, server, "ThreadingModel", "Apartment"));
}

}  // namespace

std::vector<RegistryEntry> file_type_entries(const char* extension, const char* class_name,
                                             const char* description,
                                             const char* command_executable,
                                             const char* command_arguments, const char* icon_file,
                                             int icon_index, std::uint32_t edit_flags,
                                             std::uint32_t browser_flags,
                                             const char* open_verb_name) {
    if (!extension || !class_name || !description || !command_executable ||
        !command_executable[0] || !command_arguments || !icon_file)
        return {};
    const RegistryView own = RegistryView::own;
    const std::string type = class_name;
    std::vector<RegistryEntry> entries = {
        text_entry(own, extension, "", type),
        text_entry(own, type, "", description),
        flags_entry(type, "EditFlags", edit_flags),
        flags_entry(type, "BrowserFlags", browser_flags),
        text_entry(own, join({type, "\\DefaultIcon"}), "",
                   join({icon_file, ",", std::to_string(icon_index)})),
        text_entry(own, join({type, "\\shell\\open\\Command"}), "",
                   join({"\"", command_executable, "\" ", command_arguments})),
    };
    if (open_verb_name)
        entries.push_back(text_entry(own, join({type, "\\shell\\open"}), "", open_verb_name));
    return entries;
}

std::vector<RegistryEntry> context_menu_handler_entries(const char* class_id,
                                                        const char* description,
                                                        const char* handler,
                                                        const char* library_path,
                                                        const char* library64_path,
                                                        bool on_64bit_windows) {
    if (!class_id || !description || !handler || !library_path || !library_path[0]) return {};
    std::vector<RegistryEntry> entries;
    std::vector<RegistryView> views = {RegistryView::own};
    if (on_64bit_windows) {
        views = {RegistryView::wow32, RegistryView::wow64};
        add_class(entries, RegistryView::wow32, class_id, description, library_path);
        if (library64_path && library64_path[0])
            add_class(entries, RegistryView::wow64, class_id, description, library64_path);
    } else {
        add_class(entries, RegistryView::own, class_id, description, library_path);
    }
    // The handler key is shared by both views on Windows, but a 64-bit process
    // that writes only its own leaves 32-bit hosts nothing under Wine: each
    // view gets it.
    for (const RegistryView view : views)
        entries.push_back(
            text_entry(view, join({"AllFilesystemObjects\\shellex\\ContextMenuHandlers\\", handler}),
                       "", join({"{", class_id, "}"})));
    return entries;
}

InstalledRegistration installed_registration(const char* executable, const char* library_path,
                                             const char* library64_path, bool on_64bit_windows) {
    return {context_menu_handler_entries(handler_class_id, handler_description, handler_name,
                                         library_path, library64_path, on_64bit_windows),
            file_type_entries(file_type_extension, file_type_class, file_type_description,
                              executable, file_type_arguments, executable, 1, 0, 0,
                              file_type_verb)};
}

}  // namespace korvane
