// The folders one extraction makes: each folder is checked or made once, and
// each is owned by the first entry that needed it, so that extraction can be
// wound back to where one thread, going entry by entry, would have stopped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include "platform/platform.h"

namespace korvane {

class FolderBook {
  public:
    // Folders at or above root (the destination) are taken as they are: the
    // user chose them, links included. Below it each folder is made here or
    // must be a folder itself, never a link (symbolic link, junction) that
    // would carry the files elsewhere. An empty root checks nothing.
    explicit FolderBook(std::string root = {}) : root_(std::move(root)) {}

    // Makes every folder along folder exist, as create_folder_chain does, on
    // behalf of entry. False when a file or a link below the root is in the
    // way (link, when given, then names the link) or a folder cannot be made.
    // Safe to call from several threads.
    bool ensure(const std::string& folder, std::size_t entry, std::string* link = nullptr);
    // Removes the folders made for entry or later ones and for no entry
    // before it, deepest first, the root and folders above it included. A
    // folder that is not empty stays.
    void remove_from(std::size_t entry);
    // The volume a folder ensure made or found lives on, asked of the file
    // system once per folder; nothing when it cannot be asked.
    std::optional<std::uint64_t> volume_of(const std::string& folder);
    // The root, for making files below it without following a link
    // (platform::create_new_file); nullptr when the book has none.
    const char* root() const { return root_.empty() ? nullptr : root_.c_str(); }
    // The first link (symbolic link, junction) below the root on the way to
    // path, or empty: what a folder swapped for a link since it was made or
    // found leaves there. Safe to call from several threads.
    std::string link_on_the_way(const std::string& path);

  private:
    static constexpr std::size_t found_there = static_cast<std::size_t>(-1);
    // The folder above path within the chain, or empty at its top.
    std::string parent_in_chain(const std::string& path) const;
    bool below_root(const std::string& path) const;
    // link_on_the_way with the lock held: the chain's first separator is
    // the book's state.
    std::string link_above(const std::string& path) const;
    void claim(std::string path, std::size_t entry);
    // Notes a folder below the root once it is held (platform::FolderHold)
    // for the rest of the job, so that it cannot be swapped for a link
    // while files are made in it; false when it cannot be held (link, when
    // given, then names it if it is a link by now). Others are noted as they are.
    bool note_held(const std::string& path, std::size_t entry, std::string* link);

    struct Owner {
        std::string path;  // as it was made
        std::size_t entry;
        std::optional<std::uint64_t> volume = std::nullopt;  // once asked
        platform::FolderHold hold = {};                      // below the root
    };
    // The folder under the file system's key for its path, so that every
    // spelling of one folder finds it.
    Owner* find(const std::string& path);
    void note(const std::string& path, std::size_t entry, platform::FolderHold hold = {});
    const std::string& key_of(const std::string& path);

    const std::string root_;
    std::mutex mutex_;
    std::size_t first_separator_ = 0;                    // of the chain being made
    std::unordered_map<std::string, Owner> owner_;       // key -> entry, or found_there
    std::unordered_map<std::string, std::string> keys_;  // spelling -> key
};

}  // namespace korvane
