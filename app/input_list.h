// The ordered list of input paths the next operation works on: command-line
// paths, dropped files, chosen files. Keeps duplicates; never normalises.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvane {

class InputList {
public:
    // add() result when the copy cannot be allocated; the list is unchanged.
    static constexpr std::int32_t out_of_memory = -2;

    // Appends a copy; returns the new index, -1 for a null path.
    std::int32_t add(const char* path);
    // Length of entry index in bytes, or -1 when index is out of range. With
    // a buffer, the entry is copied into it with its terminator; the buffer
    // must hold length + 1 bytes.
    std::int32_t get(std::int32_t index, char* buffer) const;
    std::int32_t get(std::int32_t index) const { return get(index, nullptr); }
    // The entry itself, or nullptr when index is out of range.
    const char* at(std::int32_t index) const;
    std::int32_t count() const { return static_cast<std::int32_t>(entries_.size()); }
    void clear();
    // Empties the list without releasing anything (for a fresh instance).
    void reset() { entries_.clear(); }

private:
    std::vector<std::string> entries_;
};

// The one process-wide list. Created empty on first use, during static
// initialisation in the product, and released at process exit.
InputList& input_list();

}  // namespace korvane
