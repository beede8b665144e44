#include "archive/temp_file.h"

#include <cstdio>

#include "platform/platform.h"

namespace korvane {

FilePtr create_temp_beside(const std::string& target, std::string& temp_path) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        unsigned char r[4];
        if (!platform::secure_random(r, sizeof r)) break;
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%02x%02x%02x%02x.tmp", r[0], r[1], r[2], r[3]);
        temp_path = target + suffix;
        if (std::FILE* f = platform::create_new_file(temp_path.c_str())) return FilePtr(f);
        // Only a name collision is worth another try.
        platform::FindData found;
        if (!platform::find_path(temp_path.c_str(), found)) break;
    }
    temp_path.clear();
    return nullptr;
}

}  // namespace korvane
