// Turns the argument string into one start-up mode and appends its path
// arguments to the input list.
#pragma once

#include <cstdint>

#include "app/input_list.h"

namespace korvane {

using StartupMode = std::int32_t;

enum : StartupMode {
    mode_unrecognised = -1,
    mode_none = 0,
    mode_paths_only = 1,
    mode_decrypt = 2,
    mode_encrypt = 3,
    mode_settings = 4,
    mode_install = 5,
    mode_uninstall = 6,
    mode_settings_elevated = 7,
    mode_install_elevated = 8,
    mode_uninstall_elevated = 9,
    // The settings dialog's context-menu box, in an elevated instance.
    mode_register_menu_elevated = 10,
    mode_unregister_menu_elevated = 11,
};

// args is the command line without the program name. Only the space (32)
// separates arguments; a tab is an ordinary character. The last switch wins.
StartupMode parse_command_line(const char* args, InputList& inputs);

// The arguments of a whole command line (as GetCommandLine gives it): the
// program name is skipped, quoted or not, then the blanks after it, as the C
// runtime does before WinMain. line may be null.
const char* skip_program_name(const char* line);

// The switch that makes an elevated instance do what mode asks ("-J", "-V"
// for install and uninstall), or nullptr when mode acts at once, as every
// mode does where the platform needs no elevation. The settings dialog
// writes only the user's own file and acts at once.
const char* relaunch_switch_for(StartupMode mode, bool elevation_required);

}  // namespace korvane
