#include "engine/folder_book.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/platform.h"

namespace korvane {

std::string FolderBook::parent_in_chain(const std::string& path) const {
    std::size_t cut = std::string::npos;
    for (std::size_t i = 0, n; (n = platform::char_length(path.c_str() + i)) != 0; i += n) {
        if (n == 1 && path[i] == platform::separator) cut = i;
    }
    // The part before the first separator (a drive, or nothing) is never made.
    if (cut == std::string::npos || cut <= first_separator_) return std::string();
    return path.substr(0, cut);
}

bool FolderBook::below_root(const std::string& path) const {
    // Every path comes as the root, a separator and a name below it.
    return !root_.empty() && path.size() > root_.size() && path.starts_with(root_) &&
           (path[root_.size()] == platform::separator || root_.back() == platform::separator);
}

const std::string& FolderBook::key_of(const std::string& path) {
    // Most files of a folder spell it alike: the key, case folded on
    // Windows, is formed once per spelling.
    const auto it = keys_.find(path);
    if (it != keys_.end()) return it->second;
    return keys_.emplace(path, platform::path_key(path)).first->second;
}

FolderBook::Owner* FolderBook::find(const std::string& path) {
    const auto it = owner_.find(key_of(path));
    return it == owner_.end() ? nullptr : &it->second;
}

void FolderBook::note(const std::string& path, std::size_t entry, platform::FolderHold hold) {
    owner_.insert_or_assign(key_of(path), Owner{path, entry, std::nullopt, std::move(hold)});
}

bool FolderBook::note_held(const std::string& path, std::size_t entry, std::string* link) {
    platform::FolderHold hold;
    if (below_root(path) && !hold.take(path.c_str())) {
        platform::FindData there;
        if (link && platform::find_path(path.c_str(), there) && there.is_link) *link = path;
        return false;
    }
    // Made by its path: a folder above it swapped for a link since it was
    // held would have put it where the link leads, which it leaves again.
    if (!platform::creation_holds_the_way && below_root(path)) {
        if (std::string above = link_above(parent_in_chain(path)); !above.empty()) {
            hold = platform::FolderHold();
            if (entry != found_there) platform::remove_folder(path.c_str());
            if (link) *link = std::move(above);
            return false;
        }
    }
    note(path, entry, std::move(hold));
    return true;
}

void FolderBook::claim(std::string path, std::size_t entry) {
    while (!path.empty()) {
        Owner* owner = find(path);
        if (!owner || owner->entry == found_there) return;
        owner->entry = std::min(owner->entry, entry);
        path = parent_in_chain(path);
    }
}

bool FolderBook::ensure(const std::string& folder, std::size_t entry, std::string* link) {
    // A plain byte search, as the first separator only marks where the drive
    // (or the root) ends.
    const char* first = std::strchr(folder.c_str(), platform::separator);
    if (!first || first[1] == '\0') return true;
    std::lock_guard lock(mutex_);
    first_separator_ = static_cast<std::size_t>(first - folder.c_str());
    // Upwards until a folder that is known, or above the root one that can be
    // made or is there: each new folder costs one call, a known one none.
    // Below the root the way down starts from a folder known to be one, so
    // nothing is made through a link.
    std::vector<std::string> missing;
    for (std::string path = folder; !path.empty(); path = parent_in_chain(path)) {
        if (find(path)) {
            claim(path, entry);
            break;
        }
        if (!below_root(path)) {
            if (platform::create_folder(path.c_str())) {
                note(path, entry);
                claim(parent_in_chain(path), entry);
                break;
            }
            if (platform::folder_exists(path.c_str())) {
                note(path, found_there);
                break;
            }
            platform::FindData in_the_way;
            if (platform::find_path(path.c_str(), in_the_way)) return false;
        }
        missing.push_back(path);
    }
    // Then down again through the folders that were missing, each made
    // through the ones above it, none of which may be a link by now.
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (find(*it)) continue;
        if (platform::create_folder(it->c_str(), below_root(*it) ? root() : nullptr)) {
            if (!note_held(*it, entry, link)) return false;
            continue;
        }
        if (std::string above = link_above(parent_in_chain(*it)); !above.empty()) {
            if (link) *link = std::move(above);
            return false;
        }
        platform::FindData there;
        if (!platform::find_path(it->c_str(), there)) return false;
        if (there.is_link && below_root(*it)) {
            if (link) *link = *it;
            return false;
        }
        if (!there.is_folder) return false;
        if (!note_held(*it, found_there, link)) return false;
    }
    return true;
}

std::string FolderBook::link_on_the_way(const std::string& path) {
    std::lock_guard lock(mutex_);
    return link_above(path);
}

std::string FolderBook::link_above(const std::string& path) const {
    std::string link;
    for (std::string at = path; below_root(at); at = parent_in_chain(at)) {
        platform::FindData found;
        if (platform::find_path(at.c_str(), found) && found.is_link) link = at;
    }
    return link;
}

std::optional<std::uint64_t> FolderBook::volume_of(const std::string& folder) {
    std::lock_guard lock(mutex_);
    // A folder made here was new and empty, so no volume is mounted on it:
    // it lives on the volume of the folder it was made in. Only a folder
    // that was there already is asked.
    std::vector<Owner*> made;
    std::string path = folder;
    Owner* owner = find(path);
    while (owner && !owner->volume && owner->entry != found_there) {
        made.push_back(owner);
        path = parent_in_chain(path);
        owner = path.empty() ? nullptr : find(path);
    }
    std::optional<std::uint64_t> volume = owner ? owner->volume : std::nullopt;
    if (!volume) {
        platform::FileIdentity identity;
        if (path.empty() || !platform::file_identity(path.c_str(), identity)) return std::nullopt;
        volume = identity.volume;
        if (owner) owner->volume = volume;
    }
    for (Owner* m : made) m->volume = volume;
    return volume;
}

void FolderBook::remove_from(std::size_t entry) {
    std::lock_guard lock(mutex_);
    std::vector<std::pair<std::string, std::string>> made;  // path, key
    for (const auto& [key, owner] : owner_)
        if (owner.entry != found_there && owner.entry >= entry) made.emplace_back(owner.path, key);
    // Deepest first: a folder inside another has the longer key.
    std::sort(made.begin(), made.end(),
              [](const auto& a, const auto& b) { return a.second.size() > b.second.size(); });
    for (const auto& [path, key] : made) {
        owner_.erase(key);  // lets go of the folder first
        platform::remove_folder(path.c_str());
    }
}

}  // namespace korvane
