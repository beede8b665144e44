// The output questions asked with the shell's own dialogs, owned by the lock
// dialog.
#pragma once

#include <windows.h>

#include "ops/output_destination.h"

namespace korvane {

class DialogQuestions : public OutputQuestions {
public:
    explicit DialogQuestions(HWND owner) : owner_(owner) {}

    std::string desktop_folder() override;
    std::string current_folder() override;
    platform::LocalTime now() override;
    bool exists_as_folder(const std::string& path) override;
    bool exists_as_file(const std::string& path) override;
    std::optional<std::string> browse_folder(const char* title, bool new_style) override;
    std::optional<std::string> save_file(const char* title, const std::string& folder) override;
    bool confirm_overwrite(const char* question) override;
    void show_error(const char* message) override;

private:
    HWND owner_;
};

}  // namespace korvane
