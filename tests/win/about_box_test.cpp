// The "&Version Information" item, the About box and the system commands of
// the dialogs that carry the item, driven through their real templates.
#include <windows.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "gui_support.h"
#include "resources/resource_ids.h"
#include "ui/about_box.h"
#include "ui/dialog_base.h"
#include "ui/message_map.h"

namespace korvane {
namespace {

// Stands in for the lock dialog: the item and the shared system-command
// handler, nothing else.
class OwnerDialog : public DialogBase {
  public:
    bool handle_message(HWND, UINT message, WPARAM wparam, LPARAM lparam,
                        LRESULT& result) override {
        static constexpr MessageEntry<OwnerDialog> map[] = {
            on_message(WM_INITDIALOG, &OwnerDialog::on_init_dialog),
            on_message(WM_SYSCOMMAND, &OwnerDialog::on_syscommand),
        };
        return dispatch_message_map(*this, map, message, wparam, lparam, result);
    }
    bool item_inserted = false;

  private:
    LRESULT on_init_dialog(WPARAM, LPARAM, bool&) {
        item_inserted = insert_version_item(window());
        return TRUE;
    }
    LRESULT on_syscommand(WPARAM wparam, LPARAM, bool& handled) {
        return on_system_command(window(), wparam, handled);
    }
};

std::string menu_text(HMENU menu, int position) {
    char text[128] = {};
    GetMenuStringA(menu, position, text, sizeof text, MF_BYPOSITION);
    return text;
}

int menu_position(HMENU menu, UINT id) {
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        if (GetMenuItemID(menu, i) == id) return i;
    }
    return -1;
}

TEST(VersionItem, SitsJustBeforeClose) {
    OwnerDialog owner;
    const HWND window = create_modeless(owner, IDD_LOCK, nullptr, 0);
    ASSERT_NE(window, nullptr);
    test::DestroyOnExit cleanup{window};
    EXPECT_TRUE(owner.item_inserted);
    const HMENU menu = GetSystemMenu(window, FALSE);
    const int close = menu_position(menu, SC_CLOSE);
    const int item = menu_position(menu, ID_VERSION_INFORMATION);
    ASSERT_GE(close, 1);
    EXPECT_EQ(item, close - 1);
    EXPECT_EQ(menu_text(menu, item), "&Version Information");
}

TEST(AboutBoxFromSystemMenu, OpensOwnedAndEscapeLeavesTheOwnerAsItWas) {
    OwnerDialog owner;
    HWND owner_window = nullptr, about = nullptr;
    RECT owner_before{}, owner_after{};
    bool owner_disabled_meanwhile = false, at_owner_origin = false, owned = false;
    std::string zlib_line, close_text;
    test::Script script;
    script.wait_for_window("Korvane File", &owner_window)
        .then([&] {
            // Away from the screen's corner, so that "at the owner" means something.
            SetWindowPos(owner_window, nullptr, 100, 100, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
            GetWindowRect(owner_window, &owner_before);
            PostMessageA(owner_window, WM_SYSCOMMAND, ID_VERSION_INFORMATION, 0);
            return true;
        })
        .wait_for_window("Version Information", &about)
        .then([&] {
            owned = GetWindow(about, GW_OWNER) == owner_window;
            owner_disabled_meanwhile = !IsWindowEnabled(owner_window);
            POINT origin{0, 0};
            ClientToScreen(owner_window, &origin);
            RECT rect{};
            GetWindowRect(about, &rect);
            // Not centred but at the owner's top left: Windows places a (0, 0)
            // template at the owner's client origin, Wine at its window origin.
            at_owner_origin = rect.left >= owner_before.left && rect.left <= origin.x &&
                              rect.top >= owner_before.top && rect.top <= origin.y;
            zlib_line = test::window_text(GetDlgItem(about, IDC_ZLIB_NOTICE));
            close_text = test::window_text(GetDlgItem(about, IDOK));
            test::press_key(about, VK_ESCAPE);
            return true;
        })
        .wait_until_gone(&about)
        .pause(100)
        .then([&] {
            GetWindowRect(owner_window, &owner_after);
            EXPECT_TRUE(IsWindow(owner_window));
            EXPECT_TRUE(IsWindowVisible(owner_window));
            EXPECT_TRUE(IsWindowEnabled(owner_window));
            PostMessageA(owner_window, WM_SYSCOMMAND, SC_CLOSE, 0);
            return true;
        });
    script.start();
    EXPECT_EQ(run_modal(owner, IDD_LOCK, nullptr, 0), 0);
    EXPECT_TRUE(script.finished());

    EXPECT_TRUE(owned);
    EXPECT_TRUE(owner_disabled_meanwhile);
    EXPECT_TRUE(at_owner_origin);
    EXPECT_EQ(zlib_line, std::string("This application uses the zlib ") + zlibVersion() +
                             " compression and expansion algorithm.");
    EXPECT_EQ(close_text, "&Close");
    EXPECT_TRUE(EqualRect(&owner_before, &owner_after));
}

// How the About box ends, and with which value.
struct Ending {
    const char* name;
    void (*act)(HWND about);
    INT_PTR result;
};

class AboutBoxEnding : public testing::TestWithParam<Ending> {};

TEST_P(AboutBoxEnding, ReturnsTheCommandId) {
    const Ending& ending = GetParam();
    HWND about = nullptr;
    test::Script script;
    script.wait_for_window("Version Information", &about).then([&] {
        ending.act(about);
        return true;
    });
    script.start();
    EXPECT_EQ(show_about_box(nullptr), ending.result);
    EXPECT_TRUE(script.finished());
}

INSTANTIATE_TEST_SUITE_P(
    Table, AboutBoxEnding,
    testing::Values(
        Ending{"Escape", [](HWND about) { test::press_key(about, VK_ESCAPE); }, IDCANCEL},
        Ending{"Enter", [](HWND about) { test::press_key(about, VK_RETURN); }, IDOK},
        Ending{"CloseButton",
               [](HWND about) { PostMessageA(GetDlgItem(about, IDOK), BM_CLICK, 0, 0); }, IDOK},
        Ending{"CommandSeven", [](HWND about) { PostMessageA(about, WM_COMMAND, IDNO, 0); }, IDNO},
        Ending{"CommandEightIsIgnored",
               [](HWND about) {
                   PostMessageA(about, WM_COMMAND, 8, 0);
                   PostMessageA(about, WM_COMMAND, IDABORT, 0);
               },
               IDABORT}),
    [](const testing::TestParamInfo<Ending>& info) { return std::string(info.param.name); });

// System commands other than the version item: a close ends the owner with
// 0, anything else gets the platform's default handling.
TEST(OwnerSystemCommand, CloseEndsWithZeroWhateverTheLowBits) {
    for (const WPARAM command : {WPARAM{SC_CLOSE}, WPARAM{SC_CLOSE | HTSYSMENU}}) {
        SCOPED_TRACE(command);
        OwnerDialog owner;
        HWND window = nullptr;
        test::Script script;
        script.wait_for_window("Korvane File", &window).then([&] {
            PostMessageA(window, WM_SYSCOMMAND, command, 0);
            return true;
        });
        script.start();
        EXPECT_EQ(run_modal(owner, IDD_LOCK, nullptr, 0), 0);
        EXPECT_TRUE(script.finished());
    }
}

TEST(OwnerSystemCommand, OtherCommandsReachDefaultHandling) {
    OwnerDialog owner;
    HWND window = nullptr;
    bool minimised = false, restored = false;
    test::Script script;
    script.wait_for_window("Korvane File", &window)
        .then([&] {
            PostMessageA(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
            return true;
        })
        .then([&] { return minimised = IsIconic(window) != FALSE; })
        .then([&] {
            PostMessageA(window, WM_SYSCOMMAND, SC_RESTORE, 0);
            return true;
        })
        .then([&] { return restored = !IsIconic(window); })
        .then([&] {
            PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
            return true;
        });
    script.start();
    EXPECT_EQ(run_modal(owner, IDD_LOCK, nullptr, 0), 0);
    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(minimised);
    EXPECT_TRUE(restored);
}

}  // namespace
}  // namespace korvane
