// Saves a PNG of every dialog template under the build's tests/screenshots
// folder, so the layout can be looked at. Pixels are not compared; a test
// fails only when a picture cannot be taken.
//
// The lock dialog and the settings dialog are shown here by a stand-in that
// reveals their controls state by state and places the pages on the tab
// control as the settings dialog does.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "gui_support.h"
#include "app/input_list.h"
#include "ops/job_runner.h"
#include "ops/lock_dialog.h"
#include "resources/resource_ids.h"
#include "ui/about_box.h"
#include "ui/dialog_base.h"

namespace korvane {
namespace {

class Showcase : public DialogBase {
  public:
    bool handle_message(HWND, UINT message, WPARAM, LPARAM, LRESULT& result) override {
        if (message != WM_INITDIALOG) return false;
        if (on_init) on_init(window());
        result = TRUE;
        return true;
    }
    std::function<void(HWND)> on_init;
};

bool is_png(const std::string& windows_path) {
    std::ifstream in(windows_path, std::ios::binary);
    char head[8] = {};
    in.read(head, sizeof head);
    return in && std::string(head, 8) == "\x89PNG\r\n\x1a\n";
}

// Adds the steps that photograph *window as NAME once it has settled.
void add_capture(test::Script& script, const HWND* window, const std::string& name,
                 std::vector<test::Screenshot>& shots, std::function<void()> prepare = {}) {
    script
        .then([=] {
            if (prepare) prepare();
            RedrawWindow(*window, nullptr, nullptr,
                         RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
            return true;
        })
        .pause(400)
        .then([=, &shots] {
            shots.emplace_back();
            EXPECT_TRUE(shots.back().start(*window, name)) << name;
            return true;
        })
        .then([&shots] { return shots.back().done(); });
}

void expect_pictures(const std::vector<test::Screenshot>& shots, std::size_t count) {
    ASSERT_EQ(shots.size(), count);
    for (const test::Screenshot& shot : shots) {
        EXPECT_TRUE(is_png(shot.windows_path())) << shot.windows_path();
        std::printf("screenshot: %s\n", shot.unix_path().c_str());
    }
}

TEST(Screenshots, AboutBox) {
    HWND about = nullptr;
    std::vector<test::Screenshot> shots;
    test::Script script;
    script.wait_for_window("Version Information", &about);
    add_capture(script, &about, "about", shots);
    script.then([&] {
        test::press_key(about, VK_ESCAPE);
        return true;
    });
    script.start();
    EXPECT_EQ(show_about_box(nullptr), IDCANCEL);
    expect_pictures(shots, 1);
}

TEST(Screenshots, LockDialogStates) {
    std::vector<test::Screenshot> shots;
    HWND window = nullptr;
    {
        input_list().clear();
        test::Script script;
        script.wait_for_window("Korvane File", &window);
        add_capture(script, &window, "lock_drop_prompt", shots);
        add_capture(script, &window, "lock_encryption", shots, [&] {
            SendMessageA(window, WM_DROPFILES,
                         reinterpret_cast<WPARAM>(test::make_drop({"C:\\data\\Photos"})), 0);
            SetDlgItemTextA(window, IDC_PASSWORD, "open sesame");
            SetDlgItemTextA(window, IDC_CONFIRM_PASSWORD, "open sesame");
        });
        script.then([&] {
            PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
            return true;
        });
        script.start();
        EXPECT_EQ(run_lock_dialog(lock_undetermined), 0);
    }
    {
        input_list().clear();
        input_list().add("C:\\data\\Photos.cry");
        test::Script script;
        script.wait_for_window("Korvane File", &window);
        add_capture(script, &window, "lock_decryption", shots, [&] {
            SetDlgItemTextA(window, IDC_DECRYPT_PASSWORD, "open sesame");
        });
        script.then([&] {
            PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
            return true;
        });
        script.start();
        EXPECT_EQ(run_lock_dialog(lock_decrypt), 0);
    }
    input_list().clear();
    expect_pictures(shots, 3);
}

std::atomic<bool> release_progress{false};

ResultCode quarter_done(CryptJob& job) {
    job.processed = 0;
    job.total = 0;
    job.total = 400;
    job.processed = 100;
    for (int i = 0; i < 1000 && !job.cancel && !release_progress; ++i) Sleep(10);
    return result_ok;
}

TEST(Screenshots, ProgressDialog) {
    HWND dialog = nullptr;
    std::vector<test::Screenshot> shots;
    test::Script script;
    script.wait_for_window("Processing", &dialog).pause(1200);  // the bar has moved
    add_capture(script, &dialog, "progress", shots);
    script.then([&] {
        release_progress = true;
        return true;
    });
    script.start();
    EXPECT_EQ(run_job(nullptr, JobRequest{"pass", "unused", 1}, quarter_done), result_ok);
    expect_pictures(shots, 1);
}

TEST(Screenshots, SettingsPages) {
    struct Page : DialogBase {
        bool handle_message(HWND, UINT, WPARAM, LPARAM, LRESULT&) override { return false; }
    };
    std::array<Page, 4> pages;
    const std::array<int, 4> templates = {IDD_PAGE_ENCRYPTION, IDD_PAGE_DECRYPTION,
                                          IDD_PAGE_COMPRESSION, IDD_PAGE_STARTUP};
    const std::array<const char*, 4> names = {"Encryption", "Decryption", "Compression", "StartUp"};
    std::array<HWND, 4> page_windows{};
    Showcase settings;
    settings.on_init = [&](HWND dialog) {
        const HWND tabs = GetDlgItem(dialog, IDC_SETTINGS_TABS);
        for (int i = 0; i < 4; ++i) {
            TCITEMA item{};
            item.mask = TCIF_TEXT;
            item.pszText = const_cast<char*>(names[i]);
            SendMessageA(tabs, TCM_INSERTITEMA, i, reinterpret_cast<LPARAM>(&item));
            page_windows[i] = create_modeless(pages[i], templates[i], dialog, 0);
        }
        RECT area{};
        GetClientRect(tabs, &area);
        SendMessageA(tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
        MapWindowPoints(tabs, dialog, reinterpret_cast<POINT*>(&area), 2);
        for (HWND page : page_windows) {
            SetWindowPos(page, nullptr, area.left, area.top, area.right - area.left,
                         area.bottom - area.top - 50, SWP_NOZORDER | SWP_NOREDRAW);
        }
    };
    auto select = [&](int index) {
        const HWND tabs = GetDlgItem(settings.window(), IDC_SETTINGS_TABS);
        SendMessageA(tabs, TCM_SETCURSEL, index, 0);
        for (int i = 0; i < 4; ++i) ShowWindow(page_windows[i], i == index ? SW_SHOWNA : SW_HIDE);
    };
    HWND window = nullptr;
    std::vector<test::Screenshot> shots;
    test::Script script;
    script.wait_for_window("Korvane File", &window);
    for (int i = 0; i < 4; ++i) {
        add_capture(script, &window, std::string("settings_") + names[i], shots,
                    [&select, i] { select(i); });
    }
    script.then([&] {
        EndDialog(window, 0);
        return true;
    });
    script.start();
    EXPECT_EQ(run_modal(settings, IDD_SETTINGS, nullptr, 0), 0);
    for (HWND page : page_windows) EXPECT_NE(page, nullptr);
    expect_pictures(shots, 4);
}

}  // namespace
}  // namespace korvane
