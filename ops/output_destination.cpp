#include "ops/output_destination.h"

#include "ops/output_naming.h"

namespace korvane {

namespace {

// Paths live in 260-byte buffers: a path must leave room for its terminator.
constexpr std::size_t path_limit = settings_path_size - 1;

// A hand-edited value outside the table counts as the default.
std::int32_t known_destination(std::int32_t value) {
    return value >= destination_desktop && value <= destination_user_folder ? value
                                                                            : destination_desktop;
}

std::optional<std::string> encryption_path(const SourceParts& source, const std::string& source_folder,
                                           const Settings& settings, OutputQuestions& ask) {
    const std::int32_t destination = known_destination(settings.encrypt_path);
    std::int32_t naming = settings.encrypt_file;
    if (naming < name_source || naming > name_ask) naming = name_source;

    auto folder_for_save = [&]() -> std::string {
        switch (destination) {
            case destination_source_folder: return source_folder;
            case destination_user_folder: return settings.user_defined_encrypt_path;
            default: return ask.desktop_folder();  // also for "ask": nothing chosen yet
        }
    };
    if (naming == name_ask) return ask.save_file(save_title, folder_for_save());

    std::string folder;
    switch (destination) {
        case destination_source_folder: folder = source_folder; break;
        case destination_ask: {
            auto chosen = ask.browse_folder(folder_browser_title, false);
            if (!chosen) return std::nullopt;
            folder = *chosen;
            break;
        }
        case destination_user_folder: folder = settings.user_defined_encrypt_path; break;
        default: folder = ask.desktop_folder(); break;
    }
    const std::string path = output_path_in(
        folder, encrypted_file_name(source.base_name, naming == name_source_with_date, ask.now()));
    // A path that does not fit, or a folder of that name, needs another name.
    if (path.size() > path_limit || ask.exists_as_folder(path))
        return ask.save_file(rename_title, folder);
    if (ask.exists_as_file(path) && !ask.confirm_overwrite(file_exists_question))
        return ask.save_file(rename_title, folder);
    return path;
}

std::optional<std::string> decryption_path(const SourceParts& source, const std::string& source_folder,
                                           const Settings& settings, OutputQuestions& ask) {
    std::string folder;
    switch (known_destination(settings.decrypt_path)) {
        case destination_source_folder: folder = source_folder; break;
        case destination_ask: {
            auto chosen = ask.browse_folder(folder_browser_title, false);
            if (!chosen) return std::nullopt;
            folder = *chosen;
            break;
        }
        case destination_user_folder: folder = settings.user_defined_decrypt_path; break;
        default: folder = ask.desktop_folder(); break;
    }
    const std::string path = output_path_in(folder, decrypted_folder_name(source.base_name));
    // The browser's choice is the destination itself, without the name.
    if (path.size() > path_limit || ask.exists_as_file(path))
        return ask.browse_folder(folder_taken_title, true);
    if (ask.exists_as_folder(path) && !ask.confirm_overwrite(folder_exists_question))
        return ask.browse_folder(folder_taken_title, true);
    return path;
}

}  // namespace

std::optional<std::string> resolve_output_path(std::int32_t direction, const InputList& inputs,
                                               const Settings& settings, OutputQuestions& ask) {
    const char* first = inputs.at(0);
    if (!first) return std::nullopt;
    // Cutting the input would name the output after some other file.
    if (std::string(first).size() > path_limit) {
        ask.show_error(path_too_long_message);
        return std::nullopt;
    }
    const SourceParts source = split_source(first);
    const std::string source_folder = source.has_folder ? source.folder : ask.current_folder();
    return direction == 1 ? encryption_path(source, source_folder, settings, ask)
                          : decryption_path(source, source_folder, settings, ask);
}

}  // namespace korvane
