#include "ops/output_destination.h"

#include "archive/paths.h"
#include "ops/output_naming.h"

namespace korvane {

namespace {

// The platform's limit of 260 characters with the terminator, counted in
// UTF-16 units as the wide functions count them.
constexpr std::size_t path_limit = settings_path_size - 1;

// UTF-16 units of a UTF-8 path: one for each character, two above U+FFFF;
// a stray byte counts as the one replacement character it becomes.
std::size_t path_units(const std::string& path) {
    std::size_t units = 0;
    for (const unsigned char c : path)
        if ((c & 0xC0) != 0x80) units += c >= 0xF0 ? 2 : 1;
    return units;
}

// The question with the path it is about on the line above.
std::string asked_about(const std::string& path, const char* question) {
    return path + "\n" + question;
}

// A hand-edited value outside the table counts as the default.
std::int32_t known_destination(std::int32_t value) {
    return value >= destination_desktop && value <= destination_user_folder ? value
                                                                            : destination_desktop;
}

// The folder a destination setting names; the browser's answer for "ask",
// nullopt when it was cancelled.
std::optional<std::string> destination_folder(std::int32_t destination,
                                              const std::string& source_folder,
                                              const char* user_folder, OutputQuestions& ask) {
    switch (destination) {
        case destination_source_folder:
            return source_folder;
        case destination_ask:
            return ask.browse_folder(folder_browser_title, false);
        case destination_user_folder:
            return std::string(user_folder);
        default:
            return ask.desktop_folder();
    }
}

std::optional<std::string> encryption_path(const SourceParts& source,
                                           const std::string& source_folder,
                                           const Settings& settings, OutputQuestions& ask) {
    const std::int32_t destination = known_destination(settings.encrypt_path);
    std::int32_t naming = settings.encrypt_file;
    if (naming < name_source || naming > name_ask) naming = name_source;

    if (naming == name_ask) {
        // The save dialog chooses the folder too: with "ask" it opens on the desktop.
        const std::int32_t start =
            destination == destination_ask ? destination_desktop : destination;
        return ask.save_file(
            save_title,
            *destination_folder(start, source_folder, settings.user_defined_encrypt_path, ask));
    }

    const std::optional<std::string> chosen =
        destination_folder(destination, source_folder, settings.user_defined_encrypt_path, ask);
    if (!chosen) return std::nullopt;
    const std::string& folder = *chosen;
    const std::string path = output_path_in(
        folder, encrypted_file_name(source.base_name, naming == name_source_with_date, ask.now()));
    // A path that does not fit, or a folder of that name, needs another name.
    if (path_units(path) > path_limit || ask.exists_as_folder(path))
        return ask.save_file(rename_title, folder);
    if (ask.exists_as_file(path) &&
        !ask.confirm_overwrite(asked_about(path, file_exists_question).c_str()))
        return ask.save_file(rename_title, folder);
    return path;
}

std::optional<std::string> decryption_path(const SourceParts& source,
                                           const std::string& source_folder,
                                           const Settings& settings, OutputQuestions& ask) {
    const std::optional<std::string> chosen =
        destination_folder(known_destination(settings.decrypt_path), source_folder,
                           settings.user_defined_decrypt_path, ask);
    if (!chosen) return std::nullopt;
    const std::string& folder = *chosen;
    const std::string& name = source.base_name;
    const std::string path = output_path_in(folder, name);
    // The browser's choice is the destination itself, without the name. A
    // name the Windows path layer trims to nothing ("...") would be the
    // folder itself (the dialogs run on Windows only).
    if (path_units(path) > path_limit || ask.exists_as_file(path) || is_trimmed_away(name))
        return ask.browse_folder(folder_taken_title, true);
    if (ask.exists_as_folder(path) &&
        !ask.confirm_overwrite(asked_about(path, folder_exists_question).c_str()))
        return ask.browse_folder(folder_taken_title, true);
    return path;
}

}  // namespace

std::optional<std::string> resolve_output_path(std::int32_t direction, const InputList& inputs,
                                               const Settings& settings, OutputQuestions& ask) {
    const char* first = inputs.at(0);
    if (!first) return std::nullopt;
    // Cutting the input would name the output after some other file.
    if (path_units(first) > path_limit) {
        ask.show_error(path_too_long_message);
        return std::nullopt;
    }
    const SourceParts source = split_source(first);
    const std::string source_folder = source.has_folder ? source.folder : ask.current_folder();
    return direction == 1 ? encryption_path(source, source_folder, settings, ask)
                          : decryption_path(source, source_folder, settings, ask);
}

}  // namespace korvane
