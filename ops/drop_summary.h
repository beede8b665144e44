// The line that tells what was dropped: the first item by name, how many
// others, and how much they hold together.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvane {

// "1.2 GB", "350 KB", "12 bytes": one decimal below 10 units, none above.
std::string format_size(std::uint64_t bytes);

// "Photos and 2 more items, 1.2 GB"; "report.txt, 12 bytes" for one item.
std::string drop_summary(const std::string& first_name, std::size_t count, std::uint64_t bytes);

// The size of the files the inputs name, folders walked; inputs that are
// gone count nothing.
std::uint64_t total_size(const std::vector<std::string>& inputs);

}  // namespace korvane
