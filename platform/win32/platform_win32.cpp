// The seam on Windows: paths arrive as UTF-8 and meet the wide API, so a name
// in any script works whatever the ANSI code page. Only archive names the code
// page holds, and passwords, stay its bytes.
#include <windows.h>
// after windows.h, which it needs
#include <bcrypt.h>
#include <fcntl.h>
#include <io.h>
#include <winternl.h>

#include <climits>
#include <cstring>
#include <cwchar>
#include <utility>

#include "platform/dos_time.h"
#include "platform/path_key.h"
#include "platform/platform.h"
#include "platform/reparse.h"
#include "platform/utf8.h"
#include "platform/win32/scoped_win.h"
#include "platform/win32/wide.h"

namespace korvane::platform {

namespace {

using Handle = win::ScopedHandle;
using FindHandle = win::ScopedFindHandle;

// Win32 reports failure as INVALID_HANDLE_VALUE, which is not null.
template <typename Owner>
Owner adopt(HANDLE h) {
    return Owner(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

// The form in which a UTF-8 path reaches the file functions: full and
// "\\?\"-prefixed, so its length is no limit. Empty stays empty, so the call
// fails.
std::wstring wide(const char* path) {
    return win::system_path(path);
}

bool is_separator(char c) {
    return c == '\\' || c == '/';
}

// The last separator; a UTF-8 continuation byte never is one.
std::size_t last_separator(const char* s) {
    std::size_t last = std::string::npos;
    for (std::size_t i = 0; s[i];) {
        const std::size_t n = char_length(s + i);
        if (n == 1 && is_separator(s[i])) last = i;
        i += n;
    }
    return last;
}

bool ends_with_separator(const std::string& s) {
    const std::size_t last = last_separator(s.c_str());
    return last != std::string::npos && last + 1 == s.size();
}

std::string join(const std::string& folder, const char* name) {
    std::string path = folder;
    if (!path.empty() && !ends_with_separator(path)) path += '\\';
    return path + name;
}

DosTime dos_time_of(const FILETIME& when) {
    SYSTEMTIME utc, local;
    // Local time by the rules for that date, not today's offset.
    if (!FileTimeToSystemTime(&when, &utc) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
        return detail::dos_time_from(1979, 1, 1, 0, 0, 0);
    return detail::dos_time_from(local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute,
                                 local.wSecond);
}

void fill_from_find(const WIN32_FIND_DATAW& fd, FindData& out) {
    out.name = win::narrow(fd.cFileName);
    out.name_exact = !win::has_unpaired_surrogate(fd.cFileName);
    out.attributes = fd.dwFileAttributes;
    out.is_folder = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    out.is_link = detail::is_link_reparse_point(fd.dwFileAttributes, fd.dwReserved0);
    out.size = out.is_folder ? 0 : (std::uint64_t{fd.nFileSizeHigh} << 32) | fd.nFileSizeLow;
    out.last_write = dos_time_of(fd.ftLastWriteTime);
}

// What the file or folder a path names says of itself, links followed. Any
// sharing is allowed, so a file another handle is writing can be asked too.
bool handle_information(const char* path, BY_HANDLE_FILE_INFORMATION& info) {
    const Handle file =
        adopt<Handle>(CreateFileW(wide(path).c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file && GetFileInformationByHandle(file.get(), &info);
}

FileIdentity identity_of(const BY_HANDLE_FILE_INFORMATION& info) {
    return {info.dwVolumeSerialNumber,
            (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow};
}

// The handle under a C runtime stream; INVALID_HANDLE_VALUE for none.
HANDLE handle_of(std::FILE* stream) {
    return stream ? reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)))
                  : INVALID_HANDLE_VALUE;
}

// Find data of a file link describe the link (size 0); the archive wants what
// reading it gives, which is the target. A dangling link keeps its own data.
void follow_file_link(const std::string& path, FindData& out) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!handle_information(path.c_str(), info)) return;
    out.attributes = info.dwFileAttributes;
    out.is_folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    out.size = out.is_folder ? 0 : (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    out.last_write = dos_time_of(info.ftLastWriteTime);
}

// A volume mounted on a folder answers to its volume name; a junction does not.
bool is_mounted_volume(const std::string& folder) {
    const std::string with_separator = ends_with_separator(folder) ? folder : folder + '\\';
    wchar_t volume[64];  // "\\?\Volume{GUID}\" is 49 characters
    return GetVolumeNameForVolumeMountPointW(wide(with_separator.c_str()).c_str(), volume,
                                             sizeof volume / sizeof volume[0]) != 0;
}

// What the find data alone cannot tell: a file link is described by its
// target, and a mount point may be a mounted volume rather than a junction.
void settle_link(const std::string& path, const WIN32_FIND_DATAW& fd, FindData& found) {
    if (!found.is_link) return;
    if (!found.is_folder) {
        follow_file_link(path, found);
    } else if (fd.dwReserved0 == detail::tag_mount_point) {
        found.is_link = detail::is_link_reparse_point(fd.dwFileAttributes, fd.dwReserved0,
                                                      is_mounted_volume(path));
    }
}

bool find_one(const std::string& path, FindData& out) {
    // Zeroed, so a find function that leaves the reparse tag unwritten
    // reports no link.
    WIN32_FIND_DATAW fd{};
    const FindHandle find = adopt<FindHandle>(FindFirstFileW(wide(path.c_str()).c_str(), &fd));
    if (!find) return false;
    FindData found;
    fill_from_find(fd, found);
    settle_link(path, fd, found);
    out = std::move(found);
    return true;
}

// True when the path's last component names no entry FindFirstFileA could
// match: empty (trailing separator or "X:"), "." or "..".
bool names_no_entry(const char* path) {
    std::size_t start = 0;
    if (path[0] && path[1] == ':') start = 2;
    const std::size_t last = last_separator(path);
    if (last != std::string::npos) start = last + 1;
    const char* component = path + start;
    return !*component || std::strcmp(component, ".") == 0 || std::strcmp(component, "..") == 0;
}

std::string full_path_of(const char* path) {
    return win::narrow(win::full_path(win::widen(path)));
}

// Position of the first separator at or after from, or npos.
std::size_t next_separator(const std::string& s, std::size_t from) {
    for (std::size_t i = from; i < s.size();) {
        const std::size_t n = char_length(s.c_str() + i);
        if (n == 1 && is_separator(s[i])) return i;
        i += n;
    }
    return std::string::npos;
}

// Length of "X:\" or "\\server\share\" at the start of a full path, else 0.
std::size_t root_length(const std::string& full) {
    if (full.size() >= 3 && full[1] == ':' && is_separator(full[2])) return 3;
    if (full.size() > 2 && is_separator(full[0]) && is_separator(full[1]) && full[2] != '?' &&
        full[2] != '.') {
        const std::size_t share_start = next_separator(full, 2);
        if (share_start == std::string::npos) return 0;
        const std::size_t share_end = next_separator(full, share_start + 1);
        return share_end == std::string::npos ? full.size() : share_end + 1;
    }
    return 0;
}

// The folder a path like "dir\", "X:\", "." or "sub\.." stands for.
bool find_named_folder(const char* path, FindData& out) {
    std::string full = full_path_of(path);
    const std::size_t root = root_length(full);
    while (full.size() > root && ends_with_separator(full)) full.pop_back();
    if (full.empty()) return false;
    if (full.size() > root) {
        FindData found;
        if (!find_one(full, found) || !found.is_folder) return false;
        out = std::move(found);
        return true;
    }
    // A root has no entry of its own to find.
    const std::string with_separator = ends_with_separator(full) ? full : full + '\\';
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(wide(with_separator.c_str()).c_str(), GetFileExInfoStandard, &data) ||
        !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    FindData found;
    found.is_folder = true;
    found.attributes = data.dwFileAttributes;
    found.last_write = dos_time_of(data.ftLastWriteTime);
    if (full[1] == ':') {
        found.name = full.substr(0, 1);
    } else {
        const std::size_t share_start = next_separator(full, 2) + 1;
        found.name = full.substr(share_start, next_separator(full, share_start) - share_start);
    }
    out = std::move(found);
    return true;
}

}  // namespace

bool is_lead_byte(unsigned char c) {
    return IsDBCSLeadByte(c) != 0;
}

bool to_ansi_name(std::string_view name, std::string& ansi) {
    if (name.empty()) {
        ansi.clear();
        return true;
    }
    // Only well-formed names: a replacement character would not round-trip.
    return detail::is_valid_utf8(name) && win::to_ansi(win::widen(name), ansi);
}

bool from_code_page(std::string_view bytes, unsigned code_page, std::string& out) {
    if (bytes.size() > INT_MAX) return false;
    const int length = static_cast<int>(bytes.size());
    const int n =
        MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes.data(), length, nullptr, 0);
    if (n <= 0 && length > 0) return false;
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    if (length > 0 && MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, bytes.data(), length,
                                          wide.data(), n) != n)
        return false;
    // An empty string answers whether the code page exists at all.
    if (length == 0) {
        CPINFO info;
        if (!GetCPInfo(code_page, &info)) return false;
    }
    out = win::narrow(wide);
    return true;
}

std::string from_ansi_name(std::string_view ansi) {
    return win::narrow(win::from_ansi(ansi));
}

std::string path_key(std::string_view utf8_path) {
    const std::wstring form = win::widen(detail::path_key_form(utf8_path, true));
    if (form.empty() || form.size() > INT_MAX) return win::narrow(form);
    // Uppercasing by the file system's rules (no linguistic casing) maps each
    // UTF-16 unit to one, as NTFS's upcase table does, so the length stays.
    std::wstring key(form.size(), L'\0');
    const int length = static_cast<int>(form.size());
    if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, form.data(), length, key.data(),
                      length, nullptr, nullptr, 0) != length) {
        // Without the table, ASCII at least folds as it does everywhere.
        key = form;
        for (wchar_t& c : key) {
            if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
        }
    }
    return win::narrow(key);
}

std::string windows_path_key(std::string_view utf8_path) {
    return path_key(utf8_path);
}

bool find_path(const char* path, FindData& out) {
    // Wildcards would turn the look-up into a search.
    if (!path || !*path || std::strpbrk(path, "*?")) return false;
    if (names_no_entry(path)) return find_named_folder(path, out);
    return find_one(path, out);
}

struct FolderEnum::State {
    FindHandle find;
    WIN32_FIND_DATAW pending{};  // zeroed, as find_one's
    bool has_pending = false;
    bool failed = false;
    std::string folder;
};

const std::string& FolderEnum::failed_at() const {
    // The listing itself gives every entry's data: only the folder can fail.
    return state_->folder;
}

FolderEnum::FolderEnum(const char* folder) : state_(std::make_unique<State>()) {
    if (!folder || !*folder) return;
    state_->folder = folder;
    // "*" matches every name however the wildcards are read; "*.*" does only
    // in the DOS reading, which need not hold for a "\\?\" path.
    const std::string pattern = join(state_->folder, "*");
    state_->find =
        adopt<FindHandle>(FindFirstFileW(wide(pattern.c_str()).c_str(), &state_->pending));
    state_->has_pending = static_cast<bool>(state_->find);
    // Only an empty drive root has no "." to find; any other folder that
    // finds nothing could not be listed (a path the system reads as another
    // folder, "d." as "d", finds nothing too).
    if (!state_->find)
        state_->failed = GetLastError() != ERROR_FILE_NOT_FOUND || !folder_exists(folder);
}

FolderEnum::~FolderEnum() = default;

bool FolderEnum::next(FindData& out) {
    State& s = *state_;
    while (s.find) {
        if (!s.has_pending && !FindNextFileW(s.find.get(), &s.pending)) {
            s.failed = GetLastError() != ERROR_NO_MORE_FILES;
            s.find.reset();
            return false;
        }
        s.has_pending = false;
        if (std::wcscmp(s.pending.cFileName, L".") == 0 ||
            std::wcscmp(s.pending.cFileName, L"..") == 0)
            continue;
        FindData found;
        fill_from_find(s.pending, found);
        settle_link(join(s.folder, found.name.c_str()), s.pending, found);
        out = std::move(found);
        return true;
    }
    return false;
}

bool FolderEnum::failed() const {
    return state_->failed;
}

bool file_identity(const char* path, FileIdentity& out, std::uint32_t* names) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!path || !handle_information(path, info)) return false;
    out = identity_of(info);
    if (names) *names = info.nNumberOfLinks;
    return true;
}

bool stream_identity(std::FILE* stream, FileIdentity& out, std::optional<std::uint64_t> volume) {
    const HANDLE handle = handle_of(stream);
    if (handle == INVALID_HANDLE_VALUE) return false;
    if (volume) {
        // The index GetFileInformationByHandle gives, without its volume query.
        struct {
            LARGE_INTEGER index;
        } internal{};
        IO_STATUS_BLOCK status{};
        if (!NT_SUCCESS(NtQueryInformationFile(handle, &status, &internal, sizeof internal,
                                               FileInternalInformation)))
            return false;
        out = {*volume, static_cast<std::uint64_t>(internal.index.QuadPart)};
        return true;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) return false;
    out = identity_of(info);
    return true;
}

bool folder_exists(const char* path) {
    if (!path) return false;
    const DWORD attributes = GetFileAttributesW(wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

FolderHold::~FolderHold() {
    if (handle_) CloseHandle(handle_);
}

FolderHold::FolderHold(FolderHold&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

FolderHold& FolderHold::operator=(FolderHold&& other) noexcept {
    if (this != &other) {
        if (handle_) CloseHandle(handle_);
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

bool FolderHold::take(const char* path) {
    if (!path) return false;
    // Without FILE_SHARE_DELETE no one can open the folder to rename or
    // remove it; the handle is the link itself where there is one.
    Handle folder = adopt<Handle>(CreateFileW(
        wide(path).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folder) return false;
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(folder.get(), FileAttributeTagInfo, &tag, sizeof tag)) {
        // Without the tag, any reparse point is taken for a link.
        BY_HANDLE_FILE_INFORMATION info;
        if (!GetFileInformationByHandle(folder.get(), &info)) return false;
        tag.FileAttributes = info.dwFileAttributes;
        tag.ReparseTag = 0;
    }
    if (!(tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        detail::is_link_reparse_point(tag.FileAttributes, tag.ReparseTag))
        return false;
    if (handle_) CloseHandle(handle_);
    handle_ = folder.release();
    return true;
}

bool create_folder(const char* path, const char*) {
    return path && CreateDirectoryW(wide(path).c_str(), nullptr) != 0;
}

bool remove_folder(const char* path) {
    return path && RemoveDirectoryW(wide(path).c_str()) != 0;
}

bool delete_file(const char* path) {
    return path && DeleteFileW(wide(path).c_str()) != 0;
}

bool delete_file_if(const char* path, const FileIdentity& identity) {
    if (!path) return false;
    // The handle that is compared is the one that deletes: no other file can
    // take the name in between.
    const Handle file =
        adopt<Handle>(CreateFileW(wide(path).c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!file || !GetFileInformationByHandle(file.get(), &info) || identity_of(info) != identity)
        return false;
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

bool replace_file(const char* from, const char* to) {
    if (from && to && std::strcmp(from, to) == 0) return true;  // a file written in place
    return from && to &&
           MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

namespace {

// The file time a local time stands for.
bool file_time_of(const LocalTime& when, FILETIME& stamp) {
    if (!detail::is_valid_local_time(when)) return false;
    SYSTEMTIME local{};
    local.wYear = static_cast<WORD>(when.year);
    local.wMonth = static_cast<WORD>(when.month);
    local.wDay = static_cast<WORD>(when.day);
    local.wHour = static_cast<WORD>(when.hour);
    local.wMinute = static_cast<WORD>(when.minute);
    local.wSecond = static_cast<WORD>(when.second);
    // The inverse of the conversion find_path uses, so a time read back is
    // the time set (the C runtime's mktime follows TZ, which under Wine can
    // disagree with the system's zone). Daylight saving is that date's.
    SYSTEMTIME utc;
    return TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) &&
           SystemTimeToFileTime(&utc, &stamp);
}

}  // namespace

bool set_file_times(const char* path, const LocalTime& when) {
    FILETIME stamp;
    if (!path || !file_time_of(when, stamp)) return false;
    // Backup semantics lets the same call stamp a folder.
    const Handle file =
        adopt<Handle>(CreateFileW(wide(path).c_str(), FILE_WRITE_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file && SetFileTime(file.get(), nullptr, &stamp, &stamp) != 0;
}

bool set_stream_times(std::FILE* stream, const LocalTime& when) {
    FILETIME stamp;
    const HANDLE handle = handle_of(stream);
    // Times set on a handle stay: the system no longer moves them for
    // writes through it, nor when it closes.
    return handle != INVALID_HANDLE_VALUE && file_time_of(when, stamp) &&
           SetFileTime(handle, nullptr, &stamp, &stamp) != 0;
}

LocalTime to_local_time(DosTime dos) {
    return detail::decode_dos_time(dos);
}

namespace {

// Closes a file create_new_file made (the descriptor that owns its handle,
// or the handle itself) and deletes it, while its name still leads to it.
void take_back(const char* path, HANDLE handle, int fd = -1) {
    BY_HANDLE_FILE_INFORMATION made;
    const bool known = GetFileInformationByHandle(handle, &made) != 0;
    if (fd != -1) {
        _close(fd);
    } else {
        CloseHandle(handle);
    }
    if (known) delete_file_if(path, identity_of(made));
}

}  // namespace

std::FILE* create_new_file(const char* path, const char*) {
    if (!path) return nullptr;
    const std::wstring name = wide(path);
    // Others may read it, and rename or delete it (as its own job does when
    // an earlier entry of its name replaces it, or when it is wound back).
    // Reading attributes lets the handle say what file it is.
    Handle file = adopt<Handle>(CreateFileW(name.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return nullptr;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_BINARY | _O_WRONLY);
    if (fd == -1) {
        take_back(path, file.release());
        return nullptr;
    }
    file.release();  // the descriptor owns the handle now
    std::FILE* stream = _fdopen(fd, "wb");
    if (!stream) take_back(path, reinterpret_cast<HANDLE>(_get_osfhandle(fd)), fd);
    return stream;
}

std::FILE* open_file(const char* path, const char* mode) {
    if (!path || !mode) return nullptr;
    const std::wstring name = wide(path);
    return name.empty() ? nullptr : _wfopen(name.c_str(), win::widen(mode).c_str());
}

bool seek_to(std::FILE* stream, std::int64_t offset) {
    return stream && offset >= 0 && _fseeki64(stream, offset, SEEK_SET) == 0;
}

std::int64_t position_of(std::FILE* stream) {
    if (!stream) return -1;
    const __int64 position = _ftelli64(stream);
    return position < 0 ? -1 : static_cast<std::int64_t>(position);
}

std::uint64_t largest_file_size(const char* path) {
    const std::wstring wide_path = wide(path);
    wchar_t root[MAX_PATH + 1], name[MAX_PATH + 1];
    if (!GetVolumePathNameW(wide_path.c_str(), root, MAX_PATH + 1) ||
        !GetVolumeInformationW(root, nullptr, 0, nullptr, nullptr, nullptr, name, MAX_PATH + 1))
        return UINT64_MAX;
    // FAT, FAT12, FAT16 and FAT32 keep a file's size in 32 bits; exFAT does not.
    return std::wcsncmp(name, L"FAT", 3) == 0 ? 0xFFFFFFFFull : UINT64_MAX;
}

bool secure_random(void* buffer, std::size_t length) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (length > 0) {
        const ULONG chunk = length > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<ULONG>(length);
        if (!BCRYPT_SUCCESS(
                BCryptGenRandom(nullptr, bytes, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
            return false;
        bytes += chunk;
        length -= chunk;
    }
    return true;
}

std::string executable_path() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) {
            buffer.resize(n);
            return win::narrow(buffer);
        }
        // A full buffer means the name was cut.
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace korvane::platform
