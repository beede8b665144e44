// Temporary files beside a target, so that the final rename stays on one
// volume and is atomic.
#pragma once

#include <string>

#include "archive/stdio_file.h"

namespace korvane {

// Creates a new file named after target with a random suffix; sets
// temp_path. nullptr when no such file can be created.
FilePtr create_temp_beside(const std::string& target, std::string& temp_path);

}  // namespace korvane
