#include <windows.h>

#include <filesystem>
#include <fstream>

#include "win/menu/menu_support.h"

namespace korvane::menu_test {
namespace {

namespace fs = std::filesystem;

class ComApartment {
  public:
    ComApartment() : ok_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComApartment() {
        if (ok_) CoUninitialize();
    }

  private:
    bool ok_;
};

class Scratch {
  public:
    Scratch()
        : path_(fs::temp_directory_path() /
                ("kvn-menu-" + std::to_string(GetCurrentProcessId()) + "-" +
                 testing::UnitTest::GetInstance()->current_test_info()->name())) {
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    std::wstring file(const std::wstring& name) const {
        const std::wstring p = (path_ / name).wstring();
        std::ofstream(fs::path(p)) << "x";
        return p;
    }
    std::wstring folder(const std::wstring& name) const {
        fs::create_directories(path_ / name);
        return (path_ / name).wstring();
    }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

class MenuHandler : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dll.ready()); }
    std::wstring expected_exe() const { return folder_of(dll.path()) + L"korvane.exe"; }

    ComApartment apartment;
    Scratch scratch;
    MenuDll dll;
};

TEST_F(MenuHandler, QueryAddsOneItemUnlessDefaultOnlyOrALoneArchive) {
    const std::wstring plain = scratch.file(L"notes.txt");
    const std::wstring other = scratch.file(L"other.doc");
    const std::wstring archive = scratch.file(L"box.cry");
    const std::wstring upper = scratch.file(L"BIG.CRY");
    const std::wstring cry_folder = scratch.folder(L"shelf.cry");
    const std::wstring double_ext = scratch.file(L"box.cry.txt");
    const std::wstring in_cry_folder = scratch.file(L"shelf.cry\\plain");
    struct Row {
        const char* name;
        std::vector<std::wstring> paths;
        UINT flags;
        int items;
    } rows[] = {
        {"one file", {plain}, CMF_NORMAL, 1},
        {"two files", {plain, other}, CMF_NORMAL, 1},
        {"a folder", {scratch.path().wstring()}, CMF_NORMAL, 1},
        {"one archive", {archive}, CMF_NORMAL, 0},
        {"one archive, capitals", {upper}, CMF_NORMAL, 0},
        {"archive among others", {archive, plain}, CMF_NORMAL, 1},
        {"two archives", {archive, upper}, CMF_NORMAL, 1},
        {"folder named .cry", {cry_folder}, CMF_NORMAL, 1},
        {".cry not last", {double_ext}, CMF_NORMAL, 1},
        {"dot in a folder name only", {in_cry_folder}, CMF_NORMAL, 1},
        {"default only", {plain}, CMF_DEFAULTONLY, 0},
        {"default only among other flags", {plain}, CMF_DEFAULTONLY | CMF_EXPLORE, 0},
        {"other flags", {plain}, CMF_EXPLORE | CMF_CANRENAME | CMF_EXTENDEDVERBS, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Selected handler(dll, row.paths);
        ASSERT_EQ(handler.initialised, S_OK);
        Menu menu;
        ASSERT_TRUE(AppendMenuW(menu.handle, MF_STRING, 1, L"first"));
        ASSERT_TRUE(AppendMenuW(menu.handle, MF_STRING, 2, L"last"));
        const HRESULT hr = handler.menu->QueryContextMenu(menu.handle, 1, 100, 200, row.flags);
        EXPECT_TRUE(SUCCEEDED(hr));
        EXPECT_EQ(HRESULT_CODE(hr), row.items);
        ASSERT_EQ(GetMenuItemCount(menu.handle), 2 + row.items);
        EXPECT_EQ(menu.text(0), L"first");
        EXPECT_EQ(menu.text(1 + row.items), L"last");
        if (row.items == 1) {
            EXPECT_EQ(menu.text(1), L"Encrypt with Korvane File");
            EXPECT_EQ(GetMenuItemID(menu.handle, 1), 100u);
        }
    }
}

TEST_F(MenuHandler, QueryWithoutRoomOrSelectionAddsNothing) {
    Selected handler(dll, {scratch.file(L"a.txt")});
    Menu menu;
    HRESULT hr = handler.menu->QueryContextMenu(menu.handle, 0, 201, 200, CMF_NORMAL);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(GetMenuItemCount(menu.handle), 0);

    // A data object without CF_HDROP fails Initialize; the earlier selection
    // must not survive it.
    DropData no_drop({}, false);
    EXPECT_TRUE(FAILED(handler.init->Initialize(nullptr, &no_drop, nullptr)));
    EXPECT_EQ(no_drop.references(), 1);
    hr = handler.menu->QueryContextMenu(menu.handle, 0, 1, 10, CMF_NORMAL);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(GetMenuItemCount(menu.handle), 0);
    CMINVOKECOMMANDINFO info = invoke_info();
    info.lpVerb = MAKEINTRESOURCEA(0);
    EXPECT_TRUE(FAILED(handler.menu->InvokeCommand(&info)));
    EXPECT_TRUE(dll.recorder.lines.empty());
    EXPECT_TRUE(dll.recorder.messages.empty());
}

TEST_F(MenuHandler, InvokeByOffsetOrVerbLaunchesWithEveryPathQuoted) {
    const std::vector<std::wstring> paths = {L"C:\\My Files\\report 2024.txt",
                                             L"C:\\caf\u00e9 menu\\cr\u00e8me.doc", L"D:\\",
                                             L"\\\\server\\share\\a b"};
    const std::wstring line = L"\"" + expected_exe() +
                              L"\" -c \"C:\\My Files\\report 2024.txt\" "
                              L"\"C:\\caf\u00e9 menu\\cr\u00e8me.doc\" \"D:\\\" "
                              L"\"\\\\server\\share\\a b\"";
    struct Row {
        const char* name;
        const char* verb_a;
        const wchar_t* verb_w;  // used with CMIC_MASK_UNICODE when set
        bool extended;
        HRESULT expected;
    } rows[] = {
        {"offset 0", MAKEINTRESOURCEA(0), nullptr, false, S_OK},
        {"verb", "encrypt", nullptr, false, S_OK},
        {"verb, capitals", "ENCRYPT", nullptr, false, S_OK},
        {"unicode verb", "ignored", L"encrypt", true, S_OK},
        // Offset 0 makes both verbs null, as Explorer sends them.
        {"unicode offset 0", MAKEINTRESOURCEA(0), MAKEINTRESOURCEW(0), true, S_OK},
        {"unicode offset 1", MAKEINTRESOURCEA(1), MAKEINTRESOURCEW(1), true, E_FAIL},
        {"offset 1", MAKEINTRESOURCEA(1), nullptr, false, E_FAIL},
        {"other verb", "decrypt", nullptr, false, E_FAIL},
        {"verb prefix", "encryp", nullptr, false, E_FAIL},
        {"other unicode verb", "encrypt", L"open", true, E_FAIL},
        // The Unicode flag without a wide verb: the ANSI one decides.
        {"unicode flag, ansi verb", "encrypt", nullptr, true, S_OK},
        {"unicode flag, other ansi verb", "delete", nullptr, true, E_FAIL},
        {"unicode flag, ansi offset 1", MAKEINTRESOURCEA(1), nullptr, true, E_FAIL},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        dll.recorder = {};
        Selected handler(dll, paths);
        ASSERT_EQ(handler.initialised, S_OK);
        CMINVOKECOMMANDINFOEX info = {};
        info.cbSize = row.extended ? sizeof(CMINVOKECOMMANDINFOEX) : sizeof(CMINVOKECOMMANDINFO);
        info.fMask = row.extended ? CMIC_MASK_UNICODE : 0;
        info.lpVerb = row.verb_a;
        info.lpVerbW = row.verb_w;
        info.nShow = SW_SHOWNORMAL;
        EXPECT_EQ(handler.menu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&info)),
                  row.expected);
        if (row.expected == S_OK) {
            ASSERT_EQ(dll.recorder.lines.size(), 1u);
            EXPECT_EQ(dll.recorder.applications[0], expected_exe());
            EXPECT_EQ(dll.recorder.lines[0], line) << narrow(dll.recorder.lines[0]);
        } else {
            EXPECT_TRUE(dll.recorder.lines.empty());
        }
        EXPECT_TRUE(dll.recorder.messages.empty());
    }
}

// Lengths measured in characters of the wide line, the terminator included.
TEST_F(MenuHandler, CommandLineLimitIsExactAndRefusedWithAMessage) {
    const std::size_t prefix = expected_exe().size() + 2 + 3;  // quotes, " -c"
    const std::size_t per_path = 3;                             // space, quotes
    struct Row {
        const char* name;
        std::size_t total;  // the line's length without its terminator
        bool launched;
    } rows[] = {
        {"well below", 1000, true},
        {"one below the limit", 32766, true},
        {"at the limit", 32767, false},
        {"far above", 60000, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        dll.recorder = {};
        // Paths of at most 250 characters, the last one taking the rest.
        std::vector<std::wstring> paths;
        std::size_t left = row.total - prefix;
        while (left >= 250 + per_path + 7) {
            paths.push_back(L"C:\\" + std::wstring(247, L'n'));
            left -= 250 + per_path;
        }
        paths.push_back(L"C:\\" + std::wstring(left - per_path - 3, L'n'));
        Selected handler(dll, paths);
        ASSERT_EQ(handler.initialised, S_OK);
        CMINVOKECOMMANDINFO info = invoke_info();
        info.hwnd = reinterpret_cast<HWND>(0x1234);
        info.lpVerb = "encrypt";
        const HRESULT hr = handler.menu->InvokeCommand(&info);
        if (row.launched) {
            EXPECT_EQ(hr, S_OK);
            ASSERT_EQ(dll.recorder.lines.size(), 1u);
            EXPECT_EQ(dll.recorder.lines[0].size(), row.total);
            EXPECT_TRUE(dll.recorder.messages.empty());
        } else {
            EXPECT_TRUE(FAILED(hr));
            EXPECT_TRUE(dll.recorder.lines.empty());
            ASSERT_EQ(dll.recorder.messages.size(), 1u);
            EXPECT_NE(dll.recorder.messages[0].find(L"Too many files"), std::wstring::npos);
            EXPECT_EQ(dll.recorder.owners[0], info.hwnd);
        }
    }
}

// korvane.exe reads its command line in UTF-16, so a name the code page
// cannot hold reaches it as it is.
TEST_F(MenuHandler, NamesWithoutAnAnsiFormArePassedThrough) {
    ASSERT_EQ(GetACP(), 1252u) << "this case needs a code page without kanji";
    const std::wstring kanji = L"C:\\\u8868\\a\U0001F600.txt";
    Selected handler(dll, {L"C:\\plain.txt", kanji});
    CMINVOKECOMMANDINFO info = invoke_info();
    info.lpVerb = MAKEINTRESOURCEA(0);
    EXPECT_EQ(handler.menu->InvokeCommand(&info), S_OK);
    EXPECT_TRUE(dll.recorder.messages.empty());
    ASSERT_EQ(dll.recorder.lines.size(), 1u);
    EXPECT_EQ(dll.recorder.lines[0],
              L"\"" + expected_exe() + L"\" -c \"C:\\plain.txt\" \"" + kanji + L"\"");
}

TEST_F(MenuHandler, LaunchFailureIsReported) {
    dll.recorder.launch_result = FALSE;
    dll.recorder.launch_error = ERROR_ACCESS_DENIED;
    Selected handler(dll, {L"C:\\a.txt"});
    CMINVOKECOMMANDINFO info = invoke_info();
    info.lpVerb = "encrypt";
    EXPECT_EQ(handler.menu->InvokeCommand(&info), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    ASSERT_EQ(dll.recorder.messages.size(), 1u);
    EXPECT_NE(dll.recorder.messages[0].find(expected_exe()), std::wstring::npos);
}

// A copy of the DLL in a folder without korvane.exe, as after a rename.
TEST_F(MenuHandler, MissingExecutableIsNamedInAMessage) {
    const std::wstring lonely = (scratch.path() / L"kvnmenu.dll").wstring();
    ASSERT_TRUE(CopyFileW(dll.path().c_str(), lonely.c_str(), FALSE));
    const std::wstring looked_for = (scratch.path() / L"korvane.exe").wstring();
    struct Row {
        const char* name;
        DWORD mask;
        std::size_t messages;
    } rows[] = {
        {"with ui", 0, 1},
        {"no ui", CMIC_MASK_FLAG_NO_UI, 0},
    };
    {
        MenuDll copy(lonely);
        ASSERT_TRUE(copy.ready());
        for (const Row& row : rows) {
            SCOPED_TRACE(row.name);
            copy.recorder = {};
            Selected handler(copy, {L"C:\\a.txt"});
            CMINVOKECOMMANDINFO info = invoke_info();
            info.fMask = row.mask;
            info.lpVerb = "encrypt";
            EXPECT_EQ(handler.menu->InvokeCommand(&info), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
            EXPECT_TRUE(copy.recorder.lines.empty());
            ASSERT_EQ(copy.recorder.messages.size(), row.messages);
            if (row.messages) {
                EXPECT_NE(copy.recorder.messages[0].find(full_path(looked_for)), std::wstring::npos)
                    << narrow(copy.recorder.messages[0]);
            }
        }
    }
    EXPECT_TRUE(dll.recorder.messages.empty()) << "the copy shares no state with the original";
}

TEST_F(MenuHandler, CommandStringsInBothForms) {
    Selected handler(dll, {L"C:\\a.txt"});
    const std::string help = "Encrypts the selected files and folders with Korvane File";
    struct Row {
        const char* name;
        UINT type;
        UINT_PTR command;
        UINT capacity;
        HRESULT expected;
        std::string text;  // ASCII; compared in the form asked for
    } rows[] = {
        {"verb ansi", GCS_VERBA, 0, 64, S_OK, "encrypt"},
        {"verb unicode", GCS_VERBW, 0, 64, S_OK, "encrypt"},
        {"help ansi", GCS_HELPTEXTA, 0, 256, S_OK, help},
        {"help unicode", GCS_HELPTEXTW, 0, 256, S_OK, help},
        {"verb, exact room", GCS_VERBA, 0, 8, S_OK, "encrypt"},
        {"verb, one short", GCS_VERBW, 0, 7, HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), ""},
        {"help, one short", GCS_HELPTEXTA, 0, static_cast<UINT>(help.size()),
         HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER), ""},
        {"validate", GCS_VALIDATEA, 0, 64, S_OK, "untouched"},
        {"validate unicode", GCS_VALIDATEW, 0, 64, S_OK, "untouched"},
        {"other command", GCS_VERBA, 1, 64, E_INVALIDARG, "untouched"},
        {"unknown type", 0x77, 0, 64, E_INVALIDARG, "untouched"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const bool wide = row.type & GCS_UNICODE;
        char narrow_out[512];
        wchar_t wide_out[512];
        std::strcpy(narrow_out, "untouched");
        std::wcscpy(wide_out, L"untouched");
        char* out = wide ? reinterpret_cast<char*>(wide_out) : narrow_out;
        EXPECT_EQ(handler.menu->GetCommandString(row.command, row.type, nullptr, out, row.capacity),
                  row.expected);
        if (wide)
            EXPECT_EQ(std::wstring(wide_out), std::wstring(row.text.begin(), row.text.end()));
        else
            EXPECT_EQ(std::string(narrow_out), row.text);
    }
}

}  // namespace
}  // namespace korvane::menu_test
