// Desktop shortcuts: shell link files that start the executable. Paths and
// arguments are UTF-8.
#pragma once

namespace korvane {

// Writes a shell link at link_path to the running executable. arguments and
// working_directory may be null; icon_index 0 stores no icon location, any
// other index names one of the executable's icons. Returns 1 when the link
// was saved (Save gave exactly S_OK), else 0; an empty link path fails
// without writing anything.
int create_shortcut(const char* link_path, const char* arguments, const char* working_directory,
                    int icon_index);

// The same with an explicit target, which is also the icon file.
int create_shortcut_to(const char* target, const char* link_path, const char* arguments,
                       const char* working_directory, int icon_index);

}  // namespace korvane
