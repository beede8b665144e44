// The seam on POSIX (Linux): UTF-8 file names, stat/readdir, getrandom.
#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <linux/openat2.h>
#include <locale.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <wctype.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>

#include "platform/dos_time.h"
#include "platform/path_key.h"
#include "platform/platform.h"
#include "platform/utf8.h"

namespace korvane::platform {

namespace {

constexpr std::uint32_t attribute_read_only = 0x01;
constexpr std::uint32_t attribute_folder = 0x10;
constexpr std::uint32_t attribute_archive = 0x20;
constexpr std::uint32_t attribute_device = 0x40;

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

struct FreeDeleter {
    void operator()(char* p) const { std::free(p); }
};

// A descriptor closed on every way out.
class Fd {
  public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            if (fd_ >= 0) close(fd_);
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_ = -1;
};

#ifndef O_PATH
#define O_PATH O_RDONLY
#endif

// Where the *at calls find what a path names: the path itself from the
// current folder, or for one of PATH_MAX bytes or more, which the system
// refuses whole, a folder on its way opened step by step and the rest below
// it. Each step resolves as the whole path would, links included.
struct AtPath {
    Fd folder;
    std::string rest;
    int at() const { return folder.get() >= 0 ? folder.get() : AT_FDCWD; }
};

bool at_path(const char* path, AtPath& out) {
    const std::string_view p = path;
    std::size_t start = 0;
    while (p.size() - start >= PATH_MAX) {
        // Cut at the last separator that leaves a step the system takes.
        const std::size_t cut = p.rfind('/', start + PATH_MAX - 2);
        if (cut == std::string_view::npos || cut <= start) {
            errno = ENAMETOOLONG;
            return false;
        }
        const std::string step(p.substr(start, cut - start));
        Fd next(openat(out.at(), step.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (next.get() < 0) return false;
        out.folder = std::move(next);
        start = cut + 1;
    }
    out.rest = start == p.size() ? std::string(".") : std::string(p.substr(start));
    return true;
}

// The folder that holds path's last component (name), path being below
// root: root itself is taken as it is, every folder below it must be one and
// not a link (ELOOP or ENOTDIR otherwise). -1 when it cannot be opened.
Fd folder_beneath(const char* root, const char* path, std::string& name) {
    const std::string_view top = root, full = path;
    std::size_t start = top.size();
    if (!full.starts_with(top) || top.empty()) {
        errno = EINVAL;
        return Fd();
    }
    while (start < full.size() && full[start] == '/') ++start;
    const std::size_t last = full.rfind('/');
    name.assign(full.substr(last == std::string_view::npos || last < start ? start : last + 1));
    Fd held(open(root, O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (held.get() < 0 || last == std::string_view::npos || last < start) return held;
    const std::string below(full.substr(start, last - start));
    open_how how{};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long beneath = syscall(SYS_openat2, held.get(), below.c_str(), &how, sizeof how);
    if (beneath >= 0) return Fd(static_cast<int>(beneath));
    if (errno != ENOSYS && errno != ENAMETOOLONG) return Fd();
    // An older kernel, or a path of PATH_MAX bytes or more, which the system
    // refuses whole: down one folder at a time, none of them a link.
    for (std::size_t at = 0; at < below.size();) {
        std::size_t end = below.find('/', at);
        if (end == std::string::npos) end = below.size();
        if (end > at) {
            const std::string step = below.substr(at, end - at);
            Fd next(
                openat(held.get(), step.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (next.get() < 0) return Fd();
            held = std::move(next);
        }
        at = end + 1;
    }
    return held;
}

// stat or lstat of any path, long ones included.
bool stat_at(const char* path, struct stat& st, bool follow) {
    AtPath at;
    return at_path(path, at) &&
           fstatat(at.at(), at.rest.c_str(), &st, follow ? 0 : AT_SYMLINK_NOFOLLOW) == 0;
}

DosTime dos_time_of(std::time_t when) {
    std::tm local{};
    if (!localtime_r(&when, &local)) return detail::dos_time_from(1979, 1, 1, 0, 0, 0);
    return detail::dos_time_from(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                 local.tm_hour, local.tm_min, local.tm_sec);
}

void fill_from_stat(const struct stat& st, FindData& out) {
    out.is_folder = S_ISDIR(st.st_mode);
    out.size = out.is_folder ? 0 : static_cast<std::uint64_t>(st.st_size);
    if (out.is_folder) {
        out.attributes = attribute_folder;
    } else if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
        // A pipe or device: reading it could block forever, so callers must be
        // able to tell it from a file.
        out.attributes = attribute_device;
    } else {
        out.attributes = (st.st_mode & S_IWUSR) ? attribute_archive : attribute_read_only;
    }
    out.last_write = dos_time_of(st.st_mtime);
}

// Fills everything but the name. A symbolic link is described by its target
// (a dangling one by the link itself), flagged as a link.
bool describe_at(int folder, const char* name, FindData& out) {
    struct stat st {};
    if (fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
    out.is_link = S_ISLNK(st.st_mode);
    if (out.is_link) {
        struct stat target {};
        if (fstatat(folder, name, &target, 0) == 0) st = target;
    }
    fill_from_stat(st, out);
    return true;
}

bool describe(const char* path, FindData& out) {
    AtPath at;
    return at_path(path, at) && describe_at(at.at(), at.rest.c_str(), out);
}

std::string last_component(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string join(const std::string& folder, const char* name) {
    std::string path = folder;
    if (!path.empty() && path.back() != '/') path += '/';
    return path + name;
}

FileIdentity identity_of(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

}  // namespace

bool from_code_page(std::string_view bytes, unsigned code_page, std::string& out) {
    struct IconvCloser {
        iconv_t cd;
        ~IconvCloser() {
            if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
        }
    };
    const std::string charset = "CP" + std::to_string(code_page);
    const IconvCloser converter{iconv_open("UTF-8", charset.c_str())};
    if (converter.cd == reinterpret_cast<iconv_t>(-1)) return false;
    // Four UTF-8 bytes at most for each byte of any code page.
    std::string converted(bytes.size() * 4, '\0');
    std::string input(bytes);
    char* in = input.data();
    std::size_t in_left = input.size();
    char* to = converted.data();
    std::size_t to_left = converted.size();
    // Stray or incomplete sequences fail the conversion instead of dropping
    // bytes from the name.
    if (iconv(converter.cd, &in, &in_left, &to, &to_left) == static_cast<std::size_t>(-1) ||
        in_left != 0)
        return false;
    converted.resize(converted.size() - to_left);
    out = std::move(converted);
    return true;
}

bool is_lead_byte(unsigned char c) {
    return detail::utf8_sequence_length(c) > 1;
}

// No ANSI code page here: ASCII is what every code page holds.
bool to_ansi_name(std::string_view name, std::string& ansi) {
    if (!detail::is_ascii(name)) return false;
    ansi.assign(name);
    return true;
}

std::string from_ansi_name(std::string_view ansi) {
    return std::string(ansi);
}

std::string path_key(std::string_view utf8_path) {
    return detail::path_key_form(utf8_path, false);
}

std::string windows_path_key(std::string_view utf8_path) {
    const std::string form = detail::path_key_form(utf8_path, true);
    // The locale is made once and kept for the process: a lookup table.
    static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
    std::string key;
    key.reserve(form.size());
    for (std::size_t i = 0; i < form.size();) {
        const auto c = static_cast<unsigned char>(form[i]);
        const std::size_t n = detail::utf8_sequence_length(c);
        if (n == 1 || form.size() - i < n ||
            !detail::is_valid_utf8(std::string_view(form).substr(i, n))) {
            // ASCII, or a byte of no character.
            key += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : form[i];
            ++i;
            continue;
        }
        if (n == 4) {
            // Past the plane: a UTF-16 pair keeps its case.
            key.append(form, i, 4);
            i += 4;
            continue;
        }
        wint_t code = n == 2 ? c & 0x1Fu : c & 0x0Fu;
        for (std::size_t k = 1; k < n; ++k)
            code = (code << 6) | (static_cast<unsigned char>(form[i + k]) & 0x3Fu);
        wint_t upper = unicode != locale_t{} ? towupper_l(code, unicode) : code;
        // One UTF-16 unit for one, as NTFS's table maps them.
        if (upper >= 0x10000 || (upper >= 0xD800 && upper <= 0xDFFF)) upper = code;
        if (upper < 0x80) {
            key += static_cast<char>(upper);
        } else if (upper < 0x800) {
            key += static_cast<char>(0xC0 | (upper >> 6));
            key += static_cast<char>(0x80 | (upper & 0x3F));
        } else {
            key += static_cast<char>(0xE0 | (upper >> 12));
            key += static_cast<char>(0x80 | ((upper >> 6) & 0x3F));
            key += static_cast<char>(0x80 | (upper & 0x3F));
        }
        i += n;
    }
    return key;
}

FolderHold::~FolderHold() = default;
FolderHold::FolderHold(FolderHold&&) noexcept = default;
FolderHold& FolderHold::operator=(FolderHold&&) noexcept = default;

bool FolderHold::take(const char*) {
    // Nothing to hold: creation below a root walks the folders itself.
    handle_ = nullptr;
    return true;
}

bool find_path(const char* path, FindData& out) {
    if (!path || !*path) return false;
    std::string p = path;
    bool must_be_folder = false;
    while (p.size() > 1 && p.back() == '/') {
        p.pop_back();
        must_be_folder = true;
    }
    const std::string last = last_component(p);
    FindData found;
    if (p == "/" || last == "." || last == "..") {
        // The name written is no name at all: ask the file system for it.
        std::unique_ptr<char, FreeDeleter> real(realpath(p.c_str(), nullptr));
        if (!real) return false;
        struct stat st {};
        if (stat(real.get(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
        fill_from_stat(st, found);
        const std::string resolved = real.get();
        found.name = resolved == "/" ? std::string() : last_component(resolved);
    } else {
        if (!describe(p.c_str(), found)) return false;
        if (must_be_folder && !found.is_folder) return false;
        found.name = last;
    }
    out = std::move(found);
    return true;
}

struct FolderEnum::State {
    DirPtr dir;
    std::string folder;
    std::string failed_at;  // empty: nothing failed
};

FolderEnum::FolderEnum(const char* folder) : state_(std::make_unique<State>()) {
    if (!folder || !*folder) return;
    state_->folder = folder;
    AtPath at;
    if (at_path(folder, at)) {
        Fd listed(openat(at.at(), at.rest.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (listed.get() >= 0) {
            state_->dir.reset(fdopendir(listed.get()));
            if (state_->dir) listed.release();  // the stream owns it now
        }
    }
    if (!state_->dir) state_->failed_at = folder;
}

FolderEnum::~FolderEnum() = default;

bool FolderEnum::next(FindData& out) {
    if (!state_->dir) return false;
    for (;;) {
        // readdir tells the end from an error only through errno.
        errno = 0;
        const dirent* entry = readdir(state_->dir.get());
        if (!entry) {
            if (errno != 0) state_->failed_at = state_->folder;
            state_->dir.reset();
            return false;
        }
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        FindData found;
        // Through the folder, so that no path length limits the walk.
        if (!describe_at(dirfd(state_->dir.get()), entry->d_name, found)) {
            // An entry removed since readdir saw it is simply no longer
            // there; one that cannot be looked up is a failure.
            if (errno == ENOENT) continue;
            state_->failed_at = join(state_->folder, entry->d_name);
            state_->dir.reset();
            return false;
        }
        found.name = entry->d_name;
        out = std::move(found);
        return true;
    }
}

bool FolderEnum::failed() const {
    return !state_->failed_at.empty();
}

const std::string& FolderEnum::failed_at() const {
    return state_->failed_at;
}

bool file_identity(const char* path, FileIdentity& out, std::uint32_t* names) {
    struct stat st {};
    if (!path || !stat_at(path, st, true)) return false;
    out = identity_of(st);
    if (names) *names = static_cast<std::uint32_t>(st.st_nlink);
    return true;
}

bool stream_identity(std::FILE* stream, FileIdentity& out, std::optional<std::uint64_t>) {
    struct stat st {};
    if (!stream || fstat(fileno(stream), &st) != 0) return false;
    out = identity_of(st);
    return true;
}

bool folder_exists(const char* path) {
    struct stat st {};
    return path && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool create_folder(const char* path, const char* root) {
    if (!path) return false;
    if (!root) return mkdir(path, 0777) == 0;
    std::string name;
    const Fd folder = folder_beneath(root, path, name);
    return folder.get() >= 0 && mkdirat(folder.get(), name.c_str(), 0777) == 0;
}

bool remove_folder(const char* path) {
    return path && rmdir(path) == 0;
}

bool delete_file(const char* path) {
    return path && unlink(path) == 0;
}

bool delete_file_if(const char* path, const FileIdentity& identity) {
    struct stat st {};
    return path && lstat(path, &st) == 0 && identity_of(st) == identity && unlink(path) == 0;
}

bool replace_file(const char* from, const char* to) {
    // rename already succeeds without doing anything when both name one file.
    return from && to && std::rename(from, to) == 0;
}

namespace {

// The instant a local time stands for, as the file times hold it.
bool instant_of(const LocalTime& when, timespec& out) {
    if (!detail::is_valid_local_time(when)) return false;
    std::tm local{};
    local.tm_year = when.year - 1900;
    local.tm_mon = when.month - 1;
    local.tm_mday = when.day;
    local.tm_hour = when.hour;
    local.tm_min = when.minute;
    local.tm_sec = when.second;
    local.tm_isdst = -1;  // daylight saving as it was on that date
    const std::time_t instant = std::mktime(&local);
    if (instant == static_cast<std::time_t>(-1)) return false;
    out = {instant, 0};
    return true;
}

}  // namespace

bool set_file_times(const char* path, const LocalTime& when) {
    timespec times[2];
    if (!path || !instant_of(when, times[0])) return false;
    times[1] = times[0];
    return utimensat(AT_FDCWD, path, times, 0) == 0;
}

bool set_stream_times(std::FILE* stream, const LocalTime& when) {
    timespec times[2];
    if (!stream || !instant_of(when, times[0])) return false;
    times[1] = times[0];
    return futimens(fileno(stream), times) == 0;
}

LocalTime to_local_time(DosTime dos) {
    return detail::decode_dos_time(dos);
}

std::FILE* create_new_file(const char* path, const char* root) {
    // "x" is O_EXCL and "e" O_CLOEXEC: one call, where opening a descriptor
    // and wrapping it costs two.
    if (!path || !root) return path ? std::fopen(path, "wbxe") : nullptr;
    std::string name;
    const Fd folder = folder_beneath(root, path, name);
    if (folder.get() < 0) return nullptr;
    // O_EXCL fails on a link of that name as on any other entry.
    Fd file(openat(folder.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (file.get() < 0) return nullptr;
    std::FILE* stream = fdopen(file.get(), "wb");
    if (stream) file.release();
    return stream;
}

std::FILE* open_file(const char* path, const char* mode) {
    if (!path || !mode) return nullptr;
    if (std::strlen(path) < PATH_MAX || std::strcmp(mode, "rb") != 0) return std::fopen(path, mode);
    // A file below a path too long to be taken whole is read through its folder.
    AtPath at;
    if (!at_path(path, at)) return nullptr;
    Fd file(openat(at.at(), at.rest.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) return nullptr;
    std::FILE* stream = fdopen(file.get(), "rb");
    if (stream) file.release();
    return stream;
}

bool seek_to(std::FILE* stream, std::int64_t offset) {
    return stream && offset >= 0 && fseeko(stream, static_cast<off_t>(offset), SEEK_SET) == 0;
}

std::int64_t position_of(std::FILE* stream) {
    if (!stream) return -1;
    const off_t position = ftello(stream);
    return position < 0 ? -1 : static_cast<std::int64_t>(position);
}

std::uint64_t largest_file_size(const char* path) {
    // vfat's magic number, as statfs reports it.
    constexpr long msdos_magic = 0x4D44;
    struct statfs info;
    if (statfs(path, &info) != 0) return UINT64_MAX;
    return static_cast<long>(info.f_type) == msdos_magic ? 0xFFFFFFFFull : UINT64_MAX;
}

bool secure_random(void* buffer, std::size_t length) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (length > 0) {
        // Large requests may be answered in part, and a signal can interrupt.
        const ssize_t got = getrandom(bytes, length, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += got;
        length -= static_cast<std::size_t>(got);
    }
    return true;
}

std::string executable_path() {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(n));
            return buffer;
        }
        // readlink truncates silently; a full buffer may have been cut.
        if (buffer.size() >= 65536) return {};
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace korvane::platform
