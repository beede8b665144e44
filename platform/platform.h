// The seam between the portable code and the operating system. The portable
// modules include only this header; platform/win32 and platform/posix each
// implement all of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace korvane::platform {

#ifdef _WIN32
inline constexpr char separator = '\\';
// create_folder and create_new_file take the path as it is (see there): the
// caller looks at the way again once something is made.
inline constexpr bool creation_holds_the_way = false;
#else
inline constexpr char separator = '/';
inline constexpr bool creation_holds_the_way = true;
#endif

// --- Characters -------------------------------------------------------------
// Every path inside the program is UTF-8, in both builds: a continuation byte
// is never taken for a separator, whatever the code page. The win32 seam
// converts to UTF-16 at the system boundary.

// Bytes of the UTF-8 character that starts at s: 1 for ASCII and for a byte
// that starts no valid sequence, more for a multi-byte character (only
// continuation bytes are taken, never a terminator or a separator). 0 at the
// terminator.
std::size_t char_length(const char* s);

// True when c starts a two-byte character of the code page passwords are
// typed in: win32 the ANSI code page (IsDBCSLeadByte, as passwords stay ANSI
// bytes), posix a UTF-8 lead byte of a multi-byte sequence.
bool is_lead_byte(unsigned char c);

// --- Names as the file system compares them ----------------------------------

// The key under which the file system of this build takes two paths for the
// same one: equal keys name one file, and a folder's key followed by '/'
// starts the key of everything inside it. Components are joined by one '/'
// whatever separators (and how many) the path had; a trailing separator is
// dropped (not a root's). posix: the bytes as they are otherwise. win32: '\\'
// separates too, a leading pair stays (a share), as the path layer reads a
// path the last component loses its trailing dots and spaces (one left empty
// is dropped) and every other component one trailing dot, and the case is
// folded as NTFS compares names, for all of Unicode. "." and ".." are kept as
// written: the key compares names, it does not resolve them. Any UTF-8 path
// has a key; an empty path's is empty.
std::string path_key(std::string_view utf8_path);
// path_key under win32's rules in every build: what two names would become
// on Windows. posix folds the case of the Basic Multilingual Plane as the C
// library's Unicode locale upper-cases it (ASCII alone without one), which
// is NTFS's table for the names people use; a name that is not UTF-8 keeps
// its other bytes.
std::string windows_path_key(std::string_view utf8_path);

// True when a component of the path may be the 8.3 short name of another
// name (a '~' followed by a letter or digit, as in PROGRA~1 or Wine's
// LONG~ZXD.TXT): the path may then name the same file as a different key,
// and only the file system can tell. The same test in both builds, as FAT
// and NTFS volumes mounted on Linux answer to short names too.
bool may_be_short_name(std::string_view utf8_path);

// --- Names inside archives -------------------------------------------------

// An entry name as an archive stores it: the bytes, and whether they are
// UTF-8 (general-purpose flag bit 11) rather than the ANSI code page's.
struct ArchiveName {
    std::string bytes;
    bool utf8 = false;
};

// True when every character of the UTF-8 name has an exact form in the ANSI
// code page (no best-fit substitutes); ansi receives those bytes. posix has no
// such code page and holds ASCII only.
bool to_ansi_name(std::string_view name, std::string& ansi);
// The UTF-8 form of ANSI code-page bytes (posix: the bytes as they are);
// win32: empty for bytes that are no text of the code page, never a name
// with a character replaced.
std::string from_ansi_name(std::string_view ansi);

// The stored form of a name ('/'-separated UTF-8): the ANSI code page's bytes
// when it holds the name, so such archives stay what older versions wrote
// (natively: ASCII as it is); UTF-8 with the flag otherwise.
ArchiveName archive_name_from_path(std::string_view name);

// The UTF-8 form of a stored name. Flagged names must be valid UTF-8 (false
// otherwise). Unflagged ones are read in code_page when it is not 0 (false
// for bytes it does not hold); with 0 they are the ANSI code page's bytes on
// win32 and taken as they are natively.
bool path_from_archive_name(std::string_view bytes, bool utf8, std::string& out,
                            unsigned code_page = 0);

// The UTF-8 form of bytes in a numbered code page (932 Shift-JIS, 1252, ...):
// win32 through the system's tables, posix through iconv's "CP<n>". False for
// bytes the code page does not hold, or a code page this system lacks (test
// with an empty string).
bool from_code_page(std::string_view bytes, unsigned code_page, std::string& out);

// --- Files and folders ------------------------------------------------------

// MS-DOS local time and date fields as archive records hold them.
struct DosTime {
    std::uint16_t time = 0;
    std::uint16_t date = 0;
};

struct FindData {
    // The entry's own name. For a path ending in a separator, "." or "..":
    // the real name of the folder meant; for a drive root the drive letter
    // alone ("E"), for a share root the share; for the posix root "/" empty.
    std::string name;
    // False when the system's name has no UTF-8 form (win32: an unpaired
    // surrogate, which name holds as U+FFFD): name then spells another file.
    bool name_exact = true;
    bool is_folder = false;
    // A symbolic link, or on win32 any name surrogate (junction): never
    // descended into. A link to a file is described by its target (size,
    // times) and still flagged. Other reparse points (cloud placeholders,
    // deduplicated files, mounted volumes) hold their own content and are
    // not links.
    bool is_link = false;
    std::uint64_t size = 0;
    // The Windows attribute word (read-only 0x01, folder 0x10, archive 0x20,
    // normal 0x80, ...). Posix makes one up: 0x10 for a folder, 0x01 for a
    // file without the owner's write bit, 0x20 for other files, and 0x40
    // (device) for pipes, sockets and devices, which must not be read.
    std::uint32_t attributes = 0;
    DosTime last_write;  // local time; instants before 1980 become 1980-01-01 00:00
};

// Looks one path up. False when it does not exist. A path with a trailing
// separator, a drive root, "." or ".." is looked up as the folder it names
// (false when it names a file).
bool find_path(const char* path, FindData& out);

// Enumerates one folder (without "." and ".."), in the platform's order.
class FolderEnum {
  public:
    explicit FolderEnum(const char* folder);
    ~FolderEnum();
    FolderEnum(const FolderEnum&) = delete;
    FolderEnum& operator=(const FolderEnum&) = delete;

    // Next entry, or false when the enumeration is over (or never started).
    bool next(FindData& out);
    // True once next() has returned false because the folder could not be
    // listed (no permission, a name the system reads as another folder),
    // the listing broke off, or an entry it listed could not be looked up
    // for any reason but its having gone since, rather than because it was
    // over.
    bool failed() const;
    // Once failed(): the entry that could not be looked up, else the folder.
    const std::string& failed_at() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// What makes a file or folder itself, however a path spells it: win32 the
// volume serial and file index, posix the device and inode.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// The identity of what path names, links followed. False when it does not
// exist or cannot be opened. names, when given, receives how many names
// (hard links) the file has.
bool file_identity(const char* path, FileIdentity& out, std::uint32_t* names = nullptr);

// The identity of the file an open stream reads or writes, asked through
// the stream's own handle: no path is looked up, so it is the file this
// stream made or opened whatever its name leads to by now. volume, when
// given, is the volume of the folder the caller made the file in: win32 then
// asks the handle for the file index alone, as asking for the volume is a
// device request per file (under Wine half a millisecond); posix learns both
// from one fstat and ignores it.
bool stream_identity(std::FILE* stream, FileIdentity& out,
                     std::optional<std::uint64_t> volume = std::nullopt);

bool folder_exists(const char* path);

// Holds a folder while files and folders are made in it. win32 keeps a
// handle open without delete sharing, so that no program can rename or
// remove the folder (and put a link in its place) while it is held, and
// checks through that handle that it is a folder and not a link (symbolic
// link, junction): a path through held folders leads where it led when they
// were taken. posix holds nothing: there create_folder and create_new_file
// given a root walk the folders themselves, without following a link.
class FolderHold {
  public:
    FolderHold() = default;
    ~FolderHold();
    FolderHold(FolderHold&& other) noexcept;
    FolderHold& operator=(FolderHold&& other) noexcept;
    FolderHold(const FolderHold&) = delete;
    FolderHold& operator=(const FolderHold&) = delete;

    // Takes the folder path names; false (holding nothing) when it is a link
    // or no folder, or cannot be opened (another program may hold it).
    bool take(const char* path);

  private:
    void* handle_ = nullptr;  // win32: the folder's HANDLE
};
// create_folder and create_new_file make the last component of path. Given a
// root (a folder path is in), every folder of path below root must be a
// folder, never a link, and is held from root down while the last component
// is made: posix through openat2 without links (or one openat per folder
// where the kernel lacks it), so a folder swapped for a link meanwhile cannot
// carry it elsewhere; errno is ELOOP or ENOTDIR then. win32 takes the path
// as it is: there the caller holds each folder below root (FolderHold).
bool create_folder(const char* path, const char* root = nullptr);
// Removes an empty folder; false when it is not empty or cannot be removed.
bool remove_folder(const char* path);
bool delete_file(const char* path);
// Deletes what path names only while it is still the file of identity (a
// link there is not followed): a file another program has put under that
// name since stays. win32 checks and deletes through one handle; posix
// compares, then unlinks.
bool delete_file_if(const char* path, const FileIdentity& identity);
// Moves from over to, replacing an existing file atomically. The same path
// for both is a move that has nothing to do.
bool replace_file(const char* from, const char* to);

// A local calendar time; daylight saving is decided by the system's rules for
// that date.
struct LocalTime {
    int year = 1980, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};
// Sets the last-access and last-write times; the creation time stays. False
// as well for a day or time that does not exist (2007-02-30, 24:00).
bool set_file_times(const char* path, const LocalTime& when);
// The same through an open stream's own handle, which must have been opened
// for writing; nothing may be written through it afterwards.
bool set_stream_times(std::FILE* stream, const LocalTime& when);

// Converts a DOS time to a calendar time.
LocalTime to_local_time(DosTime dos);

// The largest file the file system that holds path (an existing file or
// folder) can hold: 4 GiB less one byte on the FAT family; UINT64_MAX where
// the file system sets no lower limit or cannot be asked.
std::uint64_t largest_file_size(const char* path);

// --- Streams ----------------------------------------------------------------
// Positions are 64-bit: an archive past 4 GiB keeps its offsets in ZIP64
// records.

// Creates a new file for binary writing; fails (nullptr) when it exists. For
// root see create_folder.
std::FILE* create_new_file(const char* path, const char* root = nullptr);
// Opens a file as std::fopen does with the same mode ("rb", "wb"), with the
// path in the program's UTF-8 form.
std::FILE* open_file(const char* path, const char* mode);
bool seek_to(std::FILE* stream, std::int64_t offset);
std::int64_t position_of(std::FILE* stream);  // -1 on failure

// --- Randomness ---------------------------------------------------------------

// Cryptographically secure random bytes (salts). False on failure.
bool secure_random(void* buffer, std::size_t length);

// --- Process ------------------------------------------------------------------

// Full path of the running executable.
std::string executable_path();

}  // namespace korvane::platform
