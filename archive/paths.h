// Joining, splitting and checking paths held as UTF-8. Every scan for a
// separator steps by whole characters, so no byte inside a multi-byte
// character is taken for a backslash.
// Platform paths use platform::separator; archive names always use '/'.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace korvane {

// Writes folder, one separator and name into out, adding no separator when
// folder already ends with one. The result is cut to capacity - 1 bytes and
// always terminated (nothing is written when capacity is 0). Returns false
// when it had to be cut.
bool join_path(const char* folder, const char* name, char* out, std::size_t capacity);
std::string join_path(std::string_view folder, std::string_view name);

// Copies exactly n bytes from src to dst, turning single-byte '\' into '/'
// (to_archive_separators) or single-byte '/' into platform::separator
// (to_platform_separators), and terminates dst[n]. src and dst may be the
// same buffer; dst must hold n + 1 bytes.
void to_archive_separators(const char* src, char* dst, std::size_t n);
void to_platform_separators(const char* src, char* dst, std::size_t n);

// True when a component of name, separated by '/' or '\', is "." or "..".
bool has_dot_component(const char* name);

// Ends name at its first '/' or '\', leaving the first component. False, with
// name unchanged, when it holds no separator.
bool cut_at_first_separator(char* name);

// Removes everything up to and including the first '/' or '\'. False, with
// name unchanged, when it holds no separator.
bool strip_first_component(char* name);

// Copies everything before the last platform separator of path into out
// (empty when there is none). False, with out unchanged, when out cannot hold
// the result and its terminator.
bool parent_folder(const char* path, char* out, std::size_t capacity);

// Makes every folder along path exist. The part before the first separator
// (a drive, or nothing for "/tmp/x") is never created, so a path without a
// separator, or with one only at its end, succeeds at once. A file in the way,
// or a folder that cannot be made, is a failure.
bool create_folder_chain(const char* folder);

// Whether an entry name from an archive may be extracted under a destination
// folder: no leading separator and no "." or ".." component. With Windows
// rules also no ':' (drives, streams), no component that Windows turns into
// "." or ".." (dots and spaces only, such as "..." or ".. "), no device name
// (CON, PRN, AUX, NUL, COM0-9, LPT0-9, COM and LPT with a superscript 1-3,
// CONIN$, CONOUT$), whatever its case, extension or trailing dots and spaces,
// and no folder that the path layer cannot make: one that still ends in a dot
// or a space once Windows has dropped the one dot it drops from a folder
// ("dir /x" names a folder "dir " that creating "dir " never makes), and no
// last component ending in a dot or a space, which the path layer drops so
// that "x." would replace "x".
bool is_safe_entry_name(const char* name, bool windows_rules);

// True for a last path component that the Windows path layer trims to nothing
// ("...", ". .", ".. "), so that the path names the folder it sits in. "."
// and ".." themselves are not: they say so.
bool is_trimmed_away(std::string_view component);

// Whether a file's own name, as the system spells it, can be stored so that
// an unlock restores that very name. With Windows rules it must not end in a
// dot or a space: the path layer drops them, and the spelling then opens
// another file (or none). Natively it must not hold '\', which every reader
// takes as a separator and Windows cannot hold.
bool is_storable_name(std::string_view name, bool windows_rules);

// is_storable_name for the last component of an input path as given; a root,
// "." and ".." have no name of their own there and pass.
bool is_storable_input(std::string_view path, bool windows_rules);

// The last component of a platform path: after the last '/' or platform
// separator (and on win32 a drive's ':'), trailing separators left aside.
// Empty for a root.
std::string_view last_component(std::string_view path);

// The rules this build's file system applies to names.
constexpr bool windows_name_rules() {
#ifdef _WIN32
    return true;
#else
    return false;
#endif
}

// True when a path (UTF-8) is no longer than the 32,767 UTF-16 units of the
// longest Windows path: a longer entry name could not be extracted there, and
// an archive made on any system must open on every one.
bool fits_system_path(std::string_view path);

// Files known by identity, so that a second spelling of a path (through a
// link, in another case, as a short name) is never taken for another file.
class FileSet {
  public:
    // Adds what path names; false, with nothing added, when it cannot be
    // identified (a file that does not exist yet).
    bool add(const char* path);
    // found is what a walk or a look-up found at path: its name as the file
    // system has it (empty: unknown). Asking the file system costs an open
    // on Windows, so a name that no member has is answered without one where
    // no other name leads to the members (one hard link each, no link, no
    // short name).
    bool contains(const char* path, const platform::FindData& found) const;

  private:
    struct Member {
        platform::FileIdentity identity;
        std::string name_key;       // path_key of the file's own name
        bool only_by_name = false;  // no other name leads to it
    };
    std::vector<Member> members_;
};

// Every file below one folder, depth first in the platform's order, and every
// folder below which nothing is yielded (the walked folder itself included,
// under an empty relative path), after what it holds, so that an empty folder
// can be stored as itself. Other folders are not yielded, except one whose
// name is not exact, which is not entered. Links to folders are entered as
// folders, but no folder that is one of the folders being walked already (a
// link, or a mounted volume, can lead back up), so no walk goes round
// forever. A folder that cannot be listed, an entry that cannot be looked up
// (but for one gone since it was listed), a pipe or a device ends the walk:
// next() gives nullptr and unlisted() names it.
class FolderWalker {
  public:
    struct Record {
        std::string full_path;      // join_path of the walked folder and relative_path
        std::string relative_path;  // platform separators, e.g. sub\deeper\name.txt
        platform::FindData data;
    };

    explicit FolderWalker(std::string folder);
    ~FolderWalker();
    FolderWalker(const FolderWalker&) = delete;
    FolderWalker& operator=(const FolderWalker&) = delete;

    // The next file or folder, valid until the next call; nullptr when the
    // walk is over or has failed.
    const Record* next();
    // The folder that could not be listed (or the entry that could not be
    // looked up or read), once next() has given nullptr for it; empty when
    // the walk went through.
    const std::string& unlisted() const { return unlisted_; }

  private:
    struct Level {
        std::unique_ptr<platform::FolderEnum> entries;
        std::string path;
        std::string relative;
        std::optional<platform::FileIdentity> identity;
        platform::FindData data;  // the folder's own
        bool yielded = false;     // anything below it
    };

    // Starts enumerating a folder below the current one, unless it is one of
    // them. A folder that cannot be identified is entered: nothing is lost.
    void enter(std::string path, std::string relative, platform::FindData data);

    std::string root_;
    bool started_ = false;
    std::vector<Level> levels_;
    Record record_;
    std::string unlisted_;
};

}  // namespace korvane
