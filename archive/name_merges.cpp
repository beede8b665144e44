#include "archive/name_merges.h"

#include "archive/key_hash.h"
#include "platform/platform.h"

namespace korvane {

void WindowsNameMerges::add(std::string_view stored, bool folder, std::string path) {
    const std::size_t self = entries_.size();
    entries_.push_back({platform::windows_path_key(stored), std::move(path), folder});
    const std::string_view key = entries_.back().key;
    auto merges = [&](std::size_t earlier) {
        found_.emplace_back(entries_[earlier].path, entries_[self].path);
    };

    // Each folder above this entry: an earlier file there, and the first
    // entry to have that folder.
    const Hash h = hash_along(key, [&](Hash folder, std::size_t at) {
        const auto file = whole_.find(folder);
        if (file != whole_.end()) {
            Entry& earlier = entries_[file->second];
            if (!earlier.folder && !earlier.named_as_folder && earlier.key == key.substr(0, at)) {
                earlier.named_as_folder = true;
                merges(file->second);
            }
        }
        folders_.try_emplace(folder, Folder{self, at});
    });
    // The entry itself: an earlier entry of its key, or, for a file, an
    // earlier entry's folder.
    const auto same = whole_.find(h);
    if (same != whole_.end() && entries_[same->second].key == key &&
        !(folder && entries_[same->second].folder))
        merges(same->second);
    if (!folder) {
        const auto above = folders_.find(h);
        if (above != folders_.end() && above->second.entry != self) {
            const Entry& other = entries_[above->second.entry];
            if (std::string_view(other.key).substr(0, above->second.length) == key)
                merges(above->second.entry);
        }
    }
    whole_.try_emplace(h, self);
}

}  // namespace korvane
