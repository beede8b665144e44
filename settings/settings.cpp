#include "settings/settings.h"

namespace korvane {

Settings current_settings;

}  // namespace korvane
