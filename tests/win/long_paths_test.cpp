// Paths past the 260-character limit. Wine enforces no limit, so what shows
// that Windows would take them is the form in which they reach the wide file
// functions: full, with "." and ".." resolved, behind "\\?\".
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/wide.h"
#include "unit/temp_folder.h"

namespace korvane {
namespace {

using test::CurrentFolder;
using test::TempFolder;

// The paths the hooked functions received while recording.
std::vector<std::wstring>* received = nullptr;

void note(const wchar_t* path) {
    if (received && path) received->emplace_back(path);
}

// Points one import of this program at a replacement while it lives. The
// seam is linked in statically, so its calls go through these slots.
class ImportPatch {
  public:
    using Slot = decltype(IMAGE_THUNK_DATA{}.u1.Function);

    ImportPatch(const char* function, const void* replacement) {
        auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
        const IMAGE_DATA_DIRECTORY& imports =
            nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        for (auto* library =
                 reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
             library->Name; ++library) {
            const auto* names =
                reinterpret_cast<const IMAGE_THUNK_DATA*>(base + library->OriginalFirstThunk);
            auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
            for (; names->u1.AddressOfData; ++names, ++slots) {
                if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
                const auto* named =
                    reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
                if (std::strcmp(reinterpret_cast<const char*>(named->Name), function) != 0)
                    continue;
                slot_ = &slots->u1.Function;
                original_ = *slot_;
                write(reinterpret_cast<Slot>(replacement));
                return;
            }
        }
    }
    ~ImportPatch() {
        if (slot_) write(original_);
    }
    ImportPatch(const ImportPatch&) = delete;
    ImportPatch& operator=(const ImportPatch&) = delete;

    bool found() const { return slot_ != nullptr; }
    template <typename Function>
    Function original() const {
        return reinterpret_cast<Function>(original_);
    }

  private:
    void write(Slot value) {
        DWORD was = 0;
        if (!VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &was)) return;
        *slot_ = value;
        VirtualProtect(slot_, sizeof *slot_, was, &was);
    }

    Slot* slot_ = nullptr;
    Slot original_ = 0;
};

// Each hook notes its path and calls the function it stands in for.
#define KORVANE_HOOK(name, result, parameters, arguments)                  \
    ImportPatch* name##_patch = nullptr;                                   \
    result WINAPI name##_hook parameters {                                 \
        note(path);                                                        \
        return name##_patch->original<decltype(&name##_hook)>() arguments; \
    }

KORVANE_HOOK(CreateFileW, HANDLE,
             (LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
              DWORD disposition, DWORD flags, HANDLE model),
             (path, access, share, security, disposition, flags, model))
KORVANE_HOOK(FindFirstFileW, HANDLE, (LPCWSTR path, LPWIN32_FIND_DATAW data), (path, data))
KORVANE_HOOK(CreateDirectoryW, BOOL, (LPCWSTR path, LPSECURITY_ATTRIBUTES security),
             (path, security))
KORVANE_HOOK(RemoveDirectoryW, BOOL, (LPCWSTR path), (path))
KORVANE_HOOK(DeleteFileW, BOOL, (LPCWSTR path), (path))
KORVANE_HOOK(GetFileAttributesW, DWORD, (LPCWSTR path), (path))
KORVANE_HOOK(GetFileAttributesExW, BOOL, (LPCWSTR path, GET_FILEEX_INFO_LEVELS level, LPVOID data),
             (path, level, data))
KORVANE_HOOK(GetVolumePathNameW, BOOL, (LPCWSTR path, LPWSTR root, DWORD size), (path, root, size))
ImportPatch* MoveFileExW_patch = nullptr;
BOOL WINAPI MoveFileExW_hook(LPCWSTR path, LPCWSTR to, DWORD flags) {
    note(path);
    note(to);
    return MoveFileExW_patch->original<decltype(&MoveFileExW_hook)>()(path, to, flags);
}
// The C runtime's own calls are not this program's imports; _wfopen is.
ImportPatch* _wfopen_patch = nullptr;
FILE* __cdecl _wfopen_hook(const wchar_t* path, const wchar_t* mode) {
    note(path);
    return _wfopen_patch->original<decltype(&_wfopen_hook)>()(path, mode);
}
#undef KORVANE_HOOK

// clang-format off
#define KORVANE_PATCH(name) {#name, reinterpret_cast<const void*>(&name##_hook), &name##_patch}
// clang-format on

// Records the paths the seam hands the system while it lives.
class WideCalls {
  public:
    WideCalls() {
        const struct {
            const char* name;
            const void* hook;
            ImportPatch** patch;
        } hooks[] = {KORVANE_PATCH(CreateFileW),          KORVANE_PATCH(FindFirstFileW),
                     KORVANE_PATCH(CreateDirectoryW),     KORVANE_PATCH(RemoveDirectoryW),
                     KORVANE_PATCH(DeleteFileW),          KORVANE_PATCH(GetFileAttributesW),
                     KORVANE_PATCH(GetFileAttributesExW), KORVANE_PATCH(GetVolumePathNameW),
                     KORVANE_PATCH(MoveFileExW),          KORVANE_PATCH(_wfopen)};
#undef KORVANE_PATCH
        for (const auto& hook : hooks) {
            patches_.push_back(std::make_unique<ImportPatch>(hook.name, hook.hook));
            *hook.patch = patches_.back().get();
            EXPECT_TRUE(patches_.back()->found()) << hook.name;
        }
        received = &paths_;
    }
    ~WideCalls() {
        received = nullptr;
        patches_.clear();
    }
    WideCalls(const WideCalls&) = delete;
    WideCalls& operator=(const WideCalls&) = delete;

    // What was received since the last call.
    std::vector<std::wstring> take() {
        return std::exchange(paths_, {});
    }

  private:
    std::vector<std::unique_ptr<ImportPatch>> patches_;
    std::vector<std::wstring> paths_;
};

TEST(LongPaths, ConversionMakesTheFullPathAndPrefixesIt) {
    TempFolder tmp;
    const CurrentFolder in_tmp(tmp.path());
    const std::wstring here = win::widen(tmp.path()), drive = here.substr(0, 2);
    ASSERT_EQ(here[1], L':');
    const std::wstring long_name(300, L'x');
    const struct {
        std::wstring path, expected;
    } cases[] = {
        {L"rel\\f.txt", L"\\\\?\\" + here + L"\\rel\\f.txt"},
        {drive + L"rel\\f.txt", L"\\\\?\\" + here + L"\\rel\\f.txt"},  // that drive's folder
        {L"\\top\\f.txt", L"\\\\?\\" + drive + L"\\top\\f.txt"},
        {L"C:\\a\\b", L"\\\\?\\C:\\a\\b"},
        {L"C:/a/./b/../c//d", L"\\\\?\\C:\\a\\c\\d"},
        {L"sub\\..\\..\\up", L"\\\\?\\" + here.substr(0, here.rfind(L'\\')) + L"\\up"},
        {L"\\\\server\\share\\a\\..\\b", L"\\\\?\\UNC\\server\\share\\b"},
        {L"//server/share/b", L"\\\\?\\UNC\\server\\share\\b"},
        // What the path layer drops or turns into a device it still does:
        // the prefix never makes such a name as it is written.
        {L"C:\\a\\name. .", L"\\\\?\\C:\\a\\name"},
        {L"C:\\a\\nul", L"\\\\.\\nul"},
        // Already past the path layer.
        {L"\\\\?\\C:\\a\\..\\b.", L"\\\\?\\C:\\a\\..\\b."},
        {L"\\\\?\\UNC\\server\\share\\x", L"\\\\?\\UNC\\server\\share\\x"},
        {L"\\\\.\\pipe\\x", L"\\\\.\\pipe\\x"},
        {L"", L""},
        // Past 260 characters.
        {long_name + L"\\f", L"\\\\?\\" + here + L"\\" + long_name + L"\\f"},
        {L"C:\\" + long_name + L"\\..\\" + long_name, L"\\\\?\\C:\\" + long_name},
        {L"\\\\server\\share\\" + long_name, L"\\\\?\\UNC\\server\\share\\" + long_name},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(win::narrow(win::system_path(c.path)), win::narrow(c.expected))
            << win::narrow(c.path);
    }
    EXPECT_EQ(win::system_path(std::string_view("C:\\a\\caf\xC3\xA9")), L"\\\\?\\C:\\a\\caf\xE9");
}

// Every file-system call of the seam, on paths over 260 characters given
// relative and absolute: each works and hands the system the prefixed full
// path.
TEST(LongPaths, EverySeamCallHandsTheSystemTheLongForm) {
    TempFolder tmp;
    const CurrentFolder in_tmp(tmp.path());
    const std::string level(100, 'd'), leaf = std::string(60, 'f') + ".txt";
    const std::uint64_t volume_limit = platform::largest_file_size(tmp.path().c_str());
    for (const std::string& top : {std::string("rel"), tmp / "abs"}) {
        SCOPED_TRACE(top);
        const std::wstring expected_start =
            L"\\\\?\\" + win::widen(tmp / (top == "rel" ? "rel" : "abs"));
        const std::string middle = top + "\\" + level, folder = middle + "\\" + level;
        const std::string file = folder + "\\" + leaf, moved = folder + "\\moved.txt";
        ASSERT_GT(file.size(), 260u);
        platform::FileIdentity identity;
        platform::FindData found;
        const struct {
            const char* what;
            std::function<bool()> call;
        } steps[] = {
            {"create_folder",
             [&] {
                 return platform::create_folder(top.c_str()) &&
                        platform::create_folder(middle.c_str()) &&
                        platform::create_folder(folder.c_str());
             }},
            {"create_new_file",
             [&] {
                 std::FILE* f = platform::create_new_file(file.c_str());
                 return f && std::fputs("deep", f) >= 0 && std::fclose(f) == 0;
             }},
            {"set_file_times",
             [&] {
                 return platform::set_file_times(file.c_str(), {2020, 5, 6, 7, 8, 10});
             }},
            {"file_identity", [&] { return platform::file_identity(file.c_str(), identity); }},
            {"find_path",
             [&] {
                 return platform::find_path(file.c_str(), found) && found.size == 4 &&
                        platform::to_local_time(found.last_write).second == 10;
             }},
            {"FolderEnum",
             [&] {
                 platform::FolderEnum entries(folder.c_str());
                 return entries.next(found) && found.name == leaf && !entries.next(found);
             }},
            {"open_file",
             [&] {
                 std::FILE* f = platform::open_file(file.c_str(), "rb");
                 char text[8] = {};
                 const bool read = f && std::fread(text, 1, sizeof text, f) == 4;
                 if (f) std::fclose(f);
                 return read && std::string(text) == "deep";
             }},
            {"largest_file_size",
             [&] { return platform::largest_file_size(file.c_str()) == volume_limit; }},
            {"replace_file", [&] { return platform::replace_file(file.c_str(), moved.c_str()); }},
            {"folder_exists", [&] { return platform::folder_exists(folder.c_str()); }},
            {"delete_file", [&] { return platform::delete_file(moved.c_str()); }},
            {"remove_folder",
             [&] {
                 return platform::remove_folder(folder.c_str()) &&
                        platform::remove_folder(middle.c_str()) &&
                        platform::remove_folder(top.c_str());
             }},
        };
        for (const auto& step : steps) {
            std::vector<std::wstring> paths;
            {
                WideCalls calls;
                EXPECT_TRUE(step.call()) << step.what;
                paths = calls.take();
            }
            EXPECT_FALSE(paths.empty()) << step.what;
            for (const std::wstring& path : paths)
                EXPECT_EQ(path.rfind(expected_start, 0), 0u)
                    << step.what << ": " << win::narrow(path);
        }
        EXPECT_FALSE(platform::folder_exists(top.c_str()));
    }

    // Wine has no shares to offer: the calls fail, the form is still seen.
    const std::string share = "\\\\server\\share\\" + level + "\\" + level + "\\" + leaf;
    WideCalls calls;
    platform::FindData found;
    EXPECT_FALSE(platform::find_path(share.c_str(), found));
    EXPECT_FALSE(platform::folder_exists(share.c_str()));
    const std::vector<std::wstring> paths = calls.take();
    ASSERT_EQ(paths.size(), 2u);
    for (const std::wstring& path : paths)
        EXPECT_EQ(win::narrow(path),
                  "\\\\?\\UNC\\server\\share\\" + level + "\\" + level + "\\" + leaf);
}

}  // namespace
}  // namespace korvane
