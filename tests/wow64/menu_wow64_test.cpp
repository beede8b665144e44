// The right-click entry on a 64-bit Windows: korvane.exe of either width (the
// 32-bit one in the WoW64 prefix, the 64-bit one in its own prefix) registers
// the class in both registry views, so that 64-bit hosts (every Explorer
// there) and 32-bit ones both get the item. The hosts are the probes, which
// resolve the handler as Explorer does: handler name, class id,
// CoCreateInstance. The 64-bit program's suite starts only the 64-bit host:
// it also runs on machines that cannot execute 32-bit code, and the 32-bit
// host is the 32-bit program's suite's to start.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "shell/registration.h"
#include "win/menu/menu_support.h"
#include "win/shell_support.h"

namespace korvane::menu_test {
namespace {

using shell_test::read_value;
using shell_test::RegValue;

const std::string clsid_key = std::string("CLSID\\{") + handler_class_id + "}";
const std::string server_key = clsid_key + "\\InprocServer32";
const std::string handler_key =
    std::string("AllFilesystemObjects\\shellex\\ContextMenuHandlers\\") + handler_name;
const std::string item = "item Encrypt with Korvane File";

constexpr REGSAM view32 = KEY_WOW64_32KEY;
constexpr REGSAM view64 = KEY_WOW64_64KEY;

// The text of a string value, or "<none>".
std::string text_of(const std::string& key, const char* value, REGSAM view) {
    const auto got = read_value(key, value, HKEY_CLASSES_ROOT, view);
    if (!got || got->type != REG_SZ || got->data.empty()) return "<none>";
    return std::string(reinterpret_cast<const char*>(got->data.data()));
}

bool class_in(REGSAM view) {
    return shell_test::key_exists(clsid_key, HKEY_CLASSES_ROOT, view);
}

// What a probe saw: its exit code and its report.
struct Seen {
    DWORD exit_code = 0;
    std::vector<std::string> report;
};

Seen probe(const wchar_t* probe_name, const std::filesystem::path& report, bool invoke,
           const std::vector<std::wstring>& paths) {
    std::wstring arguments = L"\"" + report.wstring() + L"\"";
    if (invoke) arguments += L" --invoke";
    for (const std::wstring& path : paths) arguments += L" \"" + path + L"\"";
    Seen seen{run_and_wait(beside_tests(probe_name), arguments), {}};
    std::ifstream in(report);
    for (std::string line; std::getline(in, line);) seen.report.push_back(line);
    return seen;
}

struct Host {
    const char* name;
    const wchar_t* probe;
    const wchar_t* library;  // the one this host's view names
};
const Host hosts[] = {
    {"64-bit host", L"menu_probe64.exe", L"kvnmenu64.dll"},
#ifndef _WIN64
    {"32-bit host", L"menu_probe32.exe", L"kvnmenu.dll"},
#endif
};

class MenuWow64 : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(lock_.owned());
#ifndef _WIN64
        BOOL wow64 = FALSE;
        ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
        ASSERT_TRUE(wow64) << "this prefix is not a 64-bit Windows";
#endif
        ASSERT_TRUE(product_.copied());
        clear();
    }
    void TearDown() override {
        product_.restore_product();
        // Leaves no registration or shortcut behind; what it schedules is
        // taken back by the guard.
        run_and_wait(product_.exe(), L"-v");
        clear();
    }
    // Whatever a failed run left, in both views.
    static void clear() {
        for (const REGSAM view : {view32, view64}) {
            RegDeleteKeyExA(HKEY_CLASSES_ROOT, server_key.c_str(), view, 0);
            RegDeleteKeyExA(HKEY_CLASSES_ROOT, clsid_key.c_str(), view, 0);
        }
        shell_test::delete_tree(handler_key);
    }
    std::filesystem::path report(const char* name) const { return scratch_.path() / name; }

    shell_test::SharedStateLock lock_;
    shell_test::PendingRenamesGuard pending_;
    shell_test::ScratchFolder scratch_{"wow64"};
    ProductCopy product_{scratch_.path()};
};

TEST_F(MenuWow64, InstallReachesBothHostsAndUninstallClearsBothViews) {
    ASSERT_EQ(run_and_wait(product_.exe(), L"-j"), 0u);

    // Each view names the library its hosts can load; the handler name is
    // shared by both.
    struct Row {
        REGSAM view;
        const wchar_t* library;
    } rows[] = {{view64, L"kvnmenu64.dll"}, {view32, L"kvnmenu.dll"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.view == view64 ? "64-bit view" : "32-bit view");
        EXPECT_EQ(text_of(clsid_key, nullptr, row.view), handler_description);
        EXPECT_EQ(text_of(server_key, nullptr, row.view), ansi(product_.file(row.library)));
        EXPECT_EQ(text_of(server_key, "ThreadingModel", row.view), "Apartment");
        EXPECT_EQ(text_of(handler_key, nullptr, row.view),
                  std::string("{") + handler_class_id + "}");
    }
    EXPECT_EQ(is_context_menu_handler_registered(handler_class_id, handler_name), 1);

    const std::wstring first = (scratch_.path() / L"my file.txt").wstring();
    const std::wstring second = (scratch_.path() / L"caf\u00e9 folder").wstring();
    std::ofstream(std::filesystem::path(first)) << "x";
    std::filesystem::create_directory(second);
    const std::string expected_line =
        utf8(L"\"" + product_.exe() + L"\" -c \"" + first + L"\" \"" + second + L"\"");
    ASSERT_TRUE(product_.record_launches());
    for (const Host& host : hosts) {
        SCOPED_TRACE(host.name);
        product_.forget_launches();
        const Seen seen = probe(host.probe, report("installed.txt"), true, {first, second});
        EXPECT_EQ(seen.exit_code, 0u);
        const std::vector<std::string> expected = {std::string("class {") + handler_class_id + "}",
                                                   "server " + utf8(product_.file(host.library)),
                                                   item, "invoke 0x00000000"};
        EXPECT_EQ(seen.report, expected);
        EXPECT_EQ(product_.launches(), std::vector<std::string>{expected_line});
    }
    ASSERT_TRUE(product_.restore_product());

    ASSERT_EQ(run_and_wait(product_.exe(), L"-v"), 0u);
    for (const REGSAM view : {view32, view64}) {
        EXPECT_FALSE(class_in(view)) << view;
        EXPECT_FALSE(shell_test::key_exists(handler_key, HKEY_CLASSES_ROOT, view)) << view;
    }
    EXPECT_EQ(is_context_menu_handler_registered(handler_class_id, handler_name), 0);
    for (const Host& host : hosts) {
        SCOPED_TRACE(host.name);
        const Seen seen = probe(host.probe, report("uninstalled.txt"), false, {first});
        EXPECT_EQ(seen.exit_code, 1u);
        EXPECT_EQ(seen.report, std::vector<std::string>{"fail handler-name 0x80070002"});
    }
}

// A class only in the 32-bit view, as a registration that knows one view
// leaves it, gives 64-bit hosts nothing: the settings page's box must then
// read unchecked.
TEST_F(MenuWow64, RegisteredOnlyWhenExplorersViewHoldsTheClass) {
    const std::string dll32 = ansi(product_.file(L"kvnmenu.dll"));
    const std::string dll64 = ansi(product_.file(L"kvnmenu64.dll"));
    struct Row {
        const char* name;
        const char* library64;
        int registered;
        std::string seen64;  // the 64-bit host's last report line
    } rows[] = {
        {"32-bit view only", nullptr, 0, "fail create 0x80040154"},
        {"both views", dll64.c_str(), 1, item},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        clear();
        ASSERT_EQ(register_context_menu_handler(handler_class_id, handler_description, handler_name,
                                                dll32.c_str(), row.library64),
                  1);
        EXPECT_TRUE(class_in(view32));
        EXPECT_EQ(class_in(view64), row.library64 != nullptr);
        EXPECT_EQ(is_context_menu_handler_registered(handler_class_id, handler_name),
                  row.registered);
        const Seen seen64 = probe(L"menu_probe64.exe", report("64.txt"), false, {L"C:\\a.txt"});
        ASSERT_FALSE(seen64.report.empty());
        EXPECT_EQ(seen64.report.back(), row.seen64);
#ifndef _WIN64
        const Seen seen32 = probe(L"menu_probe32.exe", report("32.txt"), false, {L"C:\\a.txt"});
        EXPECT_EQ(seen32.exit_code, 0u);
        ASSERT_FALSE(seen32.report.empty());
        EXPECT_EQ(seen32.report.back(), item);
#endif

        unregister_context_menu_handler(handler_class_id, handler_name);
        EXPECT_FALSE(class_in(view32));
        EXPECT_FALSE(class_in(view64));
        EXPECT_EQ(is_context_menu_handler_registered(handler_class_id, handler_name), 0);
    }
}

}  // namespace
}  // namespace korvane::menu_test
