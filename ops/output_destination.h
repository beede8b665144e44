// Forms a job's output path from the first input, the direction and the
// settings, asking the user where the settings say so or where a name is
// taken. Every question can be cancelled; the Start action then stops
// silently.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/input_list.h"
#include "platform/platform.h"
#include "settings/settings.h"

namespace korvane {

// The questions resolve_output_path may ask, so the rules can be tested
// without a user; the real ones are the shell's dialogs.
class OutputQuestions {
public:
    virtual ~OutputQuestions() = default;
    // The desktop's file-system path; empty when it cannot be resolved.
    virtual std::string desktop_folder() = 0;
    // The folder the process runs in, for inputs without a folder part.
    virtual std::string current_folder() = 0;
    virtual platform::LocalTime now() = 0;
    virtual bool exists_as_folder(const std::string& path) = 0;
    virtual bool exists_as_file(const std::string& path) = 0;
    // The folder browser; nullopt for a cancel or a choice without a
    // file-system path. new_style offers the make-new-folder button.
    virtual std::optional<std::string> browse_folder(const char* title, bool new_style) = 0;
    // The save dialog for a ".cry" file, opening in folder; nullopt for a cancel.
    virtual std::optional<std::string> save_file(const char* title, const std::string& folder) = 0;
    // A Yes/No question with a warning icon; true for Yes.
    virtual bool confirm_overwrite(const char* question) = 0;
    // An input error in a box captioned "Error".
    virtual void show_error(const char* message) = 0;
};

inline constexpr const char* folder_browser_title = "Please select a folder.";
inline constexpr const char* save_title = "Please input the encryption file name.";
inline constexpr const char* rename_title = "Input new File / Folder name";
inline constexpr const char* folder_taken_title =
    "The same File/Folder name already exists.\n Select a new name.";
inline constexpr const char* file_exists_question =
    "A file with this name already exists. Do you wish to overwrite it?";
inline constexpr const char* folder_exists_question =
    "A folder with this name already exists. Do you wish to overwrite it?";
inline constexpr const char* path_too_long_message =
    "The path of the selected file is too long.";

// The archive to create (direction 1) or the folder to extract into (any
// other direction); nullopt when the user stopped at a question.
std::optional<std::string> resolve_output_path(std::int32_t direction, const InputList& inputs,
                                               const Settings& settings, OutputQuestions& ask);

}  // namespace korvane
