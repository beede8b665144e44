#include "app/input_list.h"

#include <cstring>
#include <new>

namespace korvane {

std::int32_t InputList::add(const char* path) {
    if (!path) return -1;
    try {
        entries_.emplace_back(path);
    } catch (const std::bad_alloc&) {
        return out_of_memory;
    }
    return count() - 1;
}

std::int32_t InputList::get(std::int32_t index, char* buffer) const {
    const char* entry = at(index);
    if (!entry) return -1;
    const std::string& s = entries_[static_cast<std::size_t>(index)];
    if (buffer) std::memcpy(buffer, s.c_str(), s.size() + 1);
    return static_cast<std::int32_t>(s.size());
}

const char* InputList::at(std::int32_t index) const {
    if (index < 0 || index >= count()) return nullptr;
    return entries_[static_cast<std::size_t>(index)].c_str();
}

void InputList::clear() {
    entries_.clear();
    entries_.shrink_to_fit();
}

InputList& input_list() {
    static InputList list;
    return list;
}

}  // namespace korvane
