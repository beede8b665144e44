// The line that tells what was dropped: the first item by name, how many
// others, and how much they hold together.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ops/progress_text.h"

namespace korvane {

// "Photos and 2 more items, 1.2 GB"; "report.txt, 12 bytes" for one item.
std::string drop_summary(const std::string& first_name, std::size_t count, std::uint64_t bytes);

// The size of the files the inputs name, folders walked; inputs that are
// gone count nothing.
std::uint64_t total_size(const std::vector<std::string>& inputs);

}  // namespace korvane
