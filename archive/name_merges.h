// Stored names that Windows would take for one name, found as a lock names
// its entries, so that it can warn before an unlock there fails on them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "archive/key_hash.h"

namespace korvane {

class WindowsNameMerges {
  public:
    // Adds an entry under its stored name (platform separators), known to
    // the user as path. Two names merge when their keys under Windows' rules
    // are equal (case, trailing dots and spaces) and one of them is a file,
    // or when a file's key is a folder of another entry's: unlocking there
    // would fail on the later one. Two folders of one key only pool what
    // they hold, which loses nothing.
    void add(std::string_view stored, bool folder, std::string path);
    // The pairs found, earlier entry's path first, in the order met.
    const std::vector<std::pair<std::string, std::string>>& found() const { return found_; }

  private:
    using Hash = KeyHash;
    struct Entry {
        std::string key;
        std::string path;
        bool folder;
        bool named_as_folder = false;  // once: a tree below it would repeat it
    };
    struct Folder {
        std::size_t entry;
        std::size_t length;  // of its key within the entry's
    };
    // Keys are known by hashes taken along them, so that a deep name costs
    // its length, not its square; a hit is compared in full.
    std::vector<Entry> entries_;
    std::unordered_map<Hash, std::size_t> whole_;  // the first entry of each key
    std::unordered_map<Hash, Folder> folders_;     // the first folder of each key
    std::vector<std::pair<std::string, std::string>> found_;
};

}  // namespace korvane
