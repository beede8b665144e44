// The settings dialog in-process: what each page shows for the stored
// settings, what OK stores, and that closing it any other way changes
// nothing. Driven from a script while the test thread runs the modal loop.
#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "gui_support.h"
#include "resources/resource_ids.h"
#include "settings/settings.h"
#include "settings/settings_dialog.h"
#include "shell/registration.h"
#include "shell/shortcut.h"
#include "shell_link_reader.h"
#include "shell_support.h"
#include "ui/dialog_base.h"

namespace korvane {
namespace {

using namespace shell_test;
using test::Script;

enum Page : std::size_t { encryption = 0, decryption = 1, compression = 2, start_up = 3 };

std::string describe(const Settings& s) {
    std::ostringstream out;
    out << "encrypt_path " << s.encrypt_path << " \"" << s.user_defined_encrypt_path
        << "\" encrypt_file " << s.encrypt_file << " decrypt_path " << s.decrypt_path << " \""
        << s.user_defined_decrypt_path << "\" compression_level " << s.compression_level;
    return out.str();
}

void set_folder(char* field, const char* text) {
    std::snprintf(field, settings_path_size, "%s", text);
}

bool checked(HWND page, int id) {
    return IsDlgButtonChecked(page, id) == BST_CHECKED;
}
bool enabled(HWND page, int id) {
    return IsWindowEnabled(GetDlgItem(page, id)) != FALSE;
}
// A click as the button itself reports it, moving automatic checks too.
void click(HWND page, int id) {
    SendDlgItemMessageA(page, id, BM_CLICK, 0, 0);
}

const std::vector<std::string> handler_keys = {
    std::string("CLSID\\{") + handler_class_id + "}",
    std::string("AllFilesystemObjects\\shellex\\ContextMenuHandlers\\") + handler_name};

class SettingsDialogTest : public testing::Test {
  protected:
    void SetUp() override {
        saved_ = current_settings;
        current_settings = Settings{};
        set_folder(current_settings.ini_path, scratch_.file("korvane.ini").c_str());
        set_folder(paths_.lock_shortcut_path, scratch_.file("Lock File.lnk").c_str());
        set_folder(paths_.unlock_shortcut_path, scratch_.file("Unlock File.lnk").c_str());
        set_folder(paths_.menu_library_path, scratch_.file("kvnmenu.dll").c_str());
        set_folder(paths_.menu_library64_path, scratch_.file("kvnmenu64.dll").c_str());
    }
    void TearDown() override { current_settings = saved_; }

    // Runs the dialog; the script has to end it.
    INT_PTR run(Script& script) {
        // The handler is registered in this process: no elevated instance.
        SettingsDialog dialog(current_settings, paths_,
                              {[this] {
                                   ++notifications_;
                                   return 1;
                               },
                               {}});
        dialog_ = &dialog;
        script.start();
        const INT_PTR result = run_modal(dialog, nullptr);
        dialog_ = nullptr;
        EXPECT_TRUE(script.finished()) << "the script did not run to its end";
        EXPECT_FALSE(script.timed_out());
        return result;
    }
    HWND page(Page p) const { return dialog_->page(p).window(); }

    // The tab control changes its selection and tells the dialog, as a click does.
    void select_tab(Page p) const {
        const HWND tabs = GetDlgItem(window_, IDC_SETTINGS_TABS);
        SendMessageA(tabs, TCM_SETCURSEL, p, 0);
        NMHDR header{tabs, IDC_SETTINGS_TABS, static_cast<UINT>(TCN_SELCHANGE)};
        SendMessageA(window_, WM_NOTIFY, IDC_SETTINGS_TABS, reinterpret_cast<LPARAM>(&header));
    }
    Script::Step step(std::function<void()> action) {
        return [action] {
            action();
            return true;
        };
    }
    Script::Step press_ok() {
        return step([this] { PostMessageA(window_, WM_COMMAND, IDOK, 0); });
    }
    Script::Step press_close_box() {
        return step([this] { PostMessageA(window_, WM_SYSCOMMAND, SC_CLOSE, 0); });
    }
    Settings stored() const {
        Settings s;
        std::memcpy(s.ini_path, current_settings.ini_path, settings_path_size);
        load_from_ini(s);
        return s;
    }
    // Both shortcuts and the handler, as an installation leaves them.
    void install_all() {
        ASSERT_EQ(create_shortcut(paths_.lock_shortcut_path, "-c", nullptr, 2), 1);
        ASSERT_EQ(create_shortcut(paths_.unlock_shortcut_path, "-d", nullptr, 3), 1);
        ASSERT_EQ(
            register_context_menu_handler(handler_class_id, handler_description, handler_name,
                                          paths_.menu_library_path, paths_.menu_library64_path),
            1);
    }

    ComThread com_;
    ScratchFolder scratch_{"settings"};
    ShellPaths paths_;
    Settings saved_;
    SettingsDialog* dialog_ = nullptr;
    HWND window_ = nullptr;
    int notifications_ = 0;
};

TEST_F(SettingsDialogTest, CompressionLevelsShowAsThreeStepsAndStoreTwoSixOrNine) {
    const struct Case {
        int stored, position, saved;
        const char* name;  // beside the slider
    } cases[] = {{5, 1, 6, "Normal, level 6"},
                 {2, 0, 2, "Low (High Speed), level 2"},
                 {9, 2, 9, "High (Low speed), level 9"},
                 {0, 1, 6, "Normal, level 6"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        current_settings.compression_level = c.stored;
        LRESULT position = -1, range_max = -1;
        std::string name;
        Script script;
        script.wait_for_window("Korvane File", &window_)
            .then(step([&] {
                const HWND bar = GetDlgItem(page(compression), IDC_COMPRESSION_TRACKBAR);
                position = SendMessageA(bar, TBM_GETPOS, 0, 0);
                range_max = SendMessageA(bar, TBM_GETRANGEMAX, 0, 0);
                name = test::window_text(GetDlgItem(page(compression), IDC_COMPRESSION_LEVEL));
            }))
            .then(press_ok());
        EXPECT_EQ(run(script), 0);
        EXPECT_EQ(position, c.position);
        EXPECT_EQ(range_max, 2);
        EXPECT_EQ(name, c.name);
        EXPECT_EQ(current_settings.compression_level, c.saved);
        EXPECT_EQ(stored().compression_level, c.saved);
    }
}

TEST_F(SettingsDialogTest, DateBoxIsDisabledUnderSelectAndKeepsItsCheck) {
    current_settings.encrypt_file = name_ask;
    bool select_checked = false, same_checked = true, date_enabled = true;
    bool date_disabled_but_checked = false, date_back = false;
    Script script;
    script.wait_for_window("Korvane File", &window_)
        .then(step([&] {
            const HWND p = page(encryption);
            select_checked = checked(p, IDC_NAME_SELECT);
            same_checked = checked(p, IDC_NAME_SAME);
            date_enabled = enabled(p, IDC_ADD_DATE);
            // Check the date box while it is enabled, then leave and come back.
            click(p, IDC_NAME_SAME);
            click(p, IDC_ADD_DATE);
            click(p, IDC_NAME_SELECT);
            date_disabled_but_checked =
                !enabled(p, IDC_ADD_DATE) && checked(p, IDC_ADD_DATE) && !checked(p, IDC_NAME_SAME);
            click(p, IDC_NAME_SAME);
            date_back = enabled(p, IDC_ADD_DATE) && checked(p, IDC_ADD_DATE) &&
                        !checked(p, IDC_NAME_SELECT);
        }))
        .then(press_ok());
    EXPECT_EQ(run(script), 0);
    EXPECT_TRUE(select_checked);
    EXPECT_FALSE(same_checked);
    EXPECT_FALSE(date_enabled);
    EXPECT_TRUE(date_disabled_but_checked);
    EXPECT_TRUE(date_back);
    EXPECT_EQ(current_settings.encrypt_file, name_source_with_date);
    EXPECT_EQ(stored().encrypt_file, name_source_with_date);
}

TEST_F(SettingsDialogTest, FolderTextIsStoredOnlyUnderSpecifyAFolder) {
    const struct Case {
        const char* name;
        Page page;
        std::int32_t opened_with;
        int clicked_last;
        const char* typed;  // null: leave the edit as it opened
        std::int32_t destination;
        const char* folder;
    } cases[] = {
        {"empty edit", encryption, destination_desktop, IDC_DEST_FOLDER, nullptr,
         destination_user_folder, ""},
        {"typed then left", encryption, destination_user_folder, IDC_DEST_SOURCE, "C:\\typed",
         destination_source_folder, "C:\\old"},
        {"typed", encryption, destination_ask, IDC_DEST_FOLDER, "C:\\typed",
         destination_user_folder, "C:\\typed"},
        {"decryption typed then left", decryption, destination_user_folder, IDC_DEST_SELECT,
         "C:\\typed", destination_ask, "C:\\old"},
        {"decryption empty edit", decryption, destination_source_folder, IDC_DEST_FOLDER, nullptr,
         destination_user_folder, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        current_settings = Settings{};
        set_folder(current_settings.ini_path, scratch_.file("korvane.ini").c_str());
        std::int32_t& destination =
            c.page == encryption ? current_settings.encrypt_path : current_settings.decrypt_path;
        char* folder = c.page == encryption ? current_settings.user_defined_encrypt_path
                                            : current_settings.user_defined_decrypt_path;
        destination = c.opened_with;
        set_folder(folder, "C:\\old");
        std::string opened_text;
        int checked_count = 0;
        bool folder_controls_follow = false;
        Script script;
        script.wait_for_window("Korvane File", &window_)
            .then(step([&] {
                select_tab(c.page);
                const HWND p = page(c.page);
                opened_text = test::window_text(GetDlgItem(p, IDC_FOLDER_EDIT));
                if (c.typed) {
                    click(p, IDC_DEST_FOLDER);
                    SetDlgItemTextA(p, IDC_FOLDER_EDIT, c.typed);
                }
                click(p, c.clicked_last);
                for (int id : {IDC_DEST_DESKTOP, IDC_DEST_SOURCE, IDC_DEST_SELECT, IDC_DEST_FOLDER})
                    checked_count += checked(p, id);
                const bool under_folder = c.clicked_last == IDC_DEST_FOLDER;
                folder_controls_follow = enabled(p, IDC_FOLDER_EDIT) == under_folder &&
                                         enabled(p, IDC_BROWSE) == under_folder &&
                                         checked(p, c.clicked_last);
            }))
            .then(press_ok());
        EXPECT_EQ(run(script), 0);
        // The stored folder shows only when it is the destination.
        EXPECT_EQ(opened_text, c.opened_with == destination_user_folder ? "C:\\old" : "");
        EXPECT_EQ(checked_count, 1);
        EXPECT_TRUE(folder_controls_follow);
        EXPECT_EQ(destination, c.destination);
        EXPECT_STREQ(folder, c.folder);
        EXPECT_EQ(describe(stored()), describe(current_settings));
    }
}

// The INI file keeps the ANSI code page: a folder it cannot hold is refused
// with a message, nothing is applied, and the dialog waits for another one.
TEST_F(SettingsDialogTest, FolderOutsideTheCodePageIsRefused) {
    ASSERT_EQ(GetACP(), 1252u);
    HWND box = nullptr;
    std::string message;
    bool open_on_page = false, saved_early = true;
    Script script;
    script.wait_for_window("Korvane File", &window_)
        .then(step([&] {
            select_tab(encryption);
            click(page(encryption), IDC_DEST_FOLDER);
            SetDlgItemTextW(page(encryption), IDC_FOLDER_EDIT, L"C:\\\u65e5\u672c");
        }))
        .then(press_ok())
        .wait_for_window("Error", &box)
        .then(step([&] {
            message = test::window_text(GetDlgItem(box, 0xFFFF));
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }))
        .wait_until_gone(&box)
        .then(step([&] {
            open_on_page = IsWindowVisible(window_) && IsWindowVisible(page(encryption));
            saved_early = GetFileAttributesA(current_settings.ini_path) != INVALID_FILE_ATTRIBUTES;
            SetDlgItemTextW(page(encryption), IDC_FOLDER_EDIT, L"C:\\caf\u00e9");
        }))
        .then(press_ok());
    EXPECT_EQ(run(script), 0);
    EXPECT_EQ(message,
              "This folder name has characters that cannot be saved in the settings.\n"
              "Please choose another folder.");
    EXPECT_TRUE(open_on_page);
    EXPECT_FALSE(saved_early);
    // What the code page holds is stored, as its own bytes.
    EXPECT_STREQ(current_settings.user_defined_encrypt_path, "C:\\caf\xc3\xa9");
    EXPECT_NE(test::read_file(current_settings.ini_path)
                  .find("user_defined_encrypt_path=C:\\caf\xe9\r\n"),
              std::string::npos);
    EXPECT_EQ(describe(stored()), describe(current_settings));
}

TEST_F(SettingsDialogTest, PagesNeverShownApplyWhatTheyOpenedWith) {
    Settings& s = current_settings;
    s.encrypt_path = destination_user_folder;
    set_folder(s.user_defined_encrypt_path, "C:\\encrypted here");
    s.encrypt_file = name_source_with_date;
    s.decrypt_path = destination_user_folder;
    set_folder(s.user_defined_decrypt_path, "C:\\decrypted here");
    s.compression_level = 9;
    const std::string before = describe(s);
    Script script;
    script.wait_for_window("Korvane File", &window_)
        .then(step([&] {
            // Whatever the record holds now, each page puts back what it showed.
            const std::string ini = s.ini_path;
            s = Settings{};
            set_folder(s.ini_path, ini.c_str());
            s.compression_level = 5;
        }))
        .then(press_ok());
    EXPECT_EQ(run(script), 0);
    EXPECT_EQ(describe(current_settings), before);
    EXPECT_EQ(describe(stored()), before);
}

TEST_F(SettingsDialogTest, TabsShowOnePageEachAndArePhotographed) {
    // Distinct from the template pictures' names even on a case-blind file system.
    const char* names[] = {"settings_dialog_encryption", "settings_dialog_decryption",
                           "settings_dialog_compression", "settings_dialog_startup"};
    std::vector<test::Screenshot> shots;
    std::vector<std::vector<bool>> visibility;
    RECT page_rect{}, ok_rect{};
    auto record_visibility = [&] {
        visibility.push_back({});
        for (std::size_t i = 0; i < settings_page_count; ++i)
            visibility.back().push_back(IsWindowVisible(page(static_cast<Page>(i))) != FALSE);
    };
    Script script;
    script.wait_for_window("Korvane File", &window_).then(step([&] {
        record_visibility();
        GetWindowRect(page(encryption), &page_rect);
        GetWindowRect(GetDlgItem(window_, IDOK), &ok_rect);
    }));
    for (std::size_t shown : {3, 2, 1, 0}) {
        script
            .then(step([&, shown] {
                select_tab(static_cast<Page>(shown));
                record_visibility();
                RedrawWindow(window_, nullptr, nullptr,
                             RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
            }))
            .pause(300)
            .then(step([&, shown] {
                shots.emplace_back();
                EXPECT_TRUE(shots.back().start(window_, names[shown])) << names[shown];
            }))
            .then([&] { return shots.back().done(); });
    }
    script.then(press_close_box());
    EXPECT_EQ(run(script), 0);
    EXPECT_LE(page_rect.bottom, ok_rect.top) << "a page covers the OK button";
    ASSERT_EQ(visibility.size(), 5u);
    // Tab 0 after opening, then 3, 2, 1, 0.
    for (std::size_t step = 0; step < 5; ++step) {
        const std::size_t shown = step == 0 ? 0 : 4 - step;
        for (std::size_t i = 0; i < settings_page_count; ++i)
            EXPECT_EQ(visibility[step][i], i == shown) << "tab " << shown << ", page " << i;
    }
    for (const test::Screenshot& shot : shots)
        std::printf("screenshot: %s\n", shot.unix_path().c_str());
}

TEST_F(SettingsDialogTest, CloseBoxCancelOrEscapeAfterChangingEveryPageChangesNothing) {
    SharedStateLock lock;
    ASSERT_TRUE(lock.owned());
    const bool was_registered = is_context_menu_handler_registered(handler_class_id, handler_name);
    install_all();
    current_settings.encrypt_path = destination_source_folder;
    current_settings.compression_level = 6;
    save(current_settings);
    const Settings before = current_settings;
    const auto ini = read_file(current_settings.ini_path);
    const auto lock_link = read_file(paths_.lock_shortcut_path);
    const auto unlock_link = read_file(paths_.unlock_shortcut_path);
    const RegDump registration = dump(handler_keys);
    ASSERT_FALSE(ini.empty());
    ASSERT_FALSE(registration.empty());

    const struct Way {
        const char* name;
        Script::Step close;
    } ways[] = {
        {"close box", press_close_box()},
        {"Cancel", step([this] { PostMessageA(GetDlgItem(window_, IDCANCEL), BM_CLICK, 0, 0); })},
        {"Escape", step([this] { test::press_key(window_, VK_ESCAPE); })}};
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        Script script;
        script.wait_for_window("Korvane File", &window_)
            .then(step([&] {
                click(page(encryption), IDC_DEST_FOLDER);
                SetDlgItemTextA(page(encryption), IDC_FOLDER_EDIT, "C:\\elsewhere");
                click(page(encryption), IDC_NAME_SELECT);
                click(page(decryption), IDC_DEST_SELECT);
                SendDlgItemMessageA(page(compression), IDC_COMPRESSION_TRACKBAR, TBM_SETPOS, TRUE,
                                    0);
                for (int id : {IDC_LOCK_SHORTCUT, IDC_UNLOCK_SHORTCUT, IDC_CONTEXT_MENU})
                    click(page(start_up), id);
            }))
            .then(way.close);
        EXPECT_EQ(run(script), 0);
        EXPECT_EQ(describe(current_settings), describe(before));
        EXPECT_EQ(read_file(current_settings.ini_path), ini);
        EXPECT_EQ(read_file(paths_.lock_shortcut_path), lock_link);
        EXPECT_EQ(read_file(paths_.unlock_shortcut_path), unlock_link);
        EXPECT_EQ(dump(handler_keys), registration);
        EXPECT_EQ(notifications_, 0);
    }
    if (!was_registered) unregister_context_menu_handler(handler_class_id, handler_name);
}

// Holds Ctrl (and Shift) down in this thread's key state, as the dialog
// manager reads it, while the Tab key is pressed.
void press_tab_with(HWND dialog, bool shift) {
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_CONTROL] = keys[VK_LCONTROL] = 0x80;
    keys[VK_SHIFT] = keys[VK_LSHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(keys);
    test::press_key(dialog, VK_TAB);
}
void release_modifiers() {
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_CONTROL] = keys[VK_LCONTROL] = keys[VK_SHIFT] = keys[VK_LSHIFT] = 0;
    SetKeyboardState(keys);
}

TEST_F(SettingsDialogTest, KeyboardMovesBetweenPagesAndTabVisitsThePageBeforeTheButtons) {
    HWND tabs = nullptr, first_focus = nullptr, first_page = nullptr;
    std::vector<LRESULT> selected;
    std::vector<std::pair<int, HWND>> order;  // id and parent of each stop
    std::string level_after_key;
    const auto current = [&] { return SendMessageA(tabs, TCM_GETCURSEL, 0, 0); };
    Script script;
    script.wait_for_window("Korvane File", &window_)
        // Wine gives the new window the focus once the desktop has activated
        // it, which other tests' windows can hold up.
        .then([] { return GetFocus() != nullptr; })
        .then(step([&] {
            tabs = GetDlgItem(window_, IDC_SETTINGS_TABS);
            first_focus = GetFocus();
            first_page = page(encryption);
            // The tab order from the tabs round to them again.
            for (HWND at = GetNextDlgTabItem(window_, tabs, FALSE); at && at != tabs;
                 at = GetNextDlgTabItem(window_, at, FALSE)) {
                order.emplace_back(GetDlgCtrlID(at), GetParent(at));
                if (order.size() > 50) break;
            }
            press_tab_with(window_, false);
        }))
        .then([&] { return current() == 1; })
        .then(step([&] {
            selected.push_back(current());
            press_tab_with(window_, true);
        }))
        .then([&] { return current() == 0; })
        .then(step([&] {
            selected.push_back(current());
            press_tab_with(window_, true);  // back past the first page: the last
        }))
        .then([&] { return current() == 3; })
        .then(step([&] {
            selected.push_back(current());
            release_modifiers();
            // Shown or not, a page's slider names the level a key moved it to.
            const HWND bar = GetDlgItem(page(compression), IDC_COMPRESSION_TRACKBAR);
            SendMessageA(bar, WM_KEYDOWN, VK_RIGHT, 1);
            SendMessageA(bar, WM_KEYUP, VK_RIGHT, 0xC0000001);
            level_after_key =
                test::window_text(GetDlgItem(page(compression), IDC_COMPRESSION_LEVEL));
        }))
        .then(press_close_box());
    EXPECT_EQ(run(script), 0);
    release_modifiers();
    EXPECT_EQ(first_focus, tabs);
    EXPECT_EQ(selected, (std::vector<LRESULT>{1, 0, 3}));
    EXPECT_EQ(level_after_key, "High (Low speed), level 9");
    // The page's controls, then OK, then Cancel.
    ASSERT_GE(order.size(), 3u);
    EXPECT_EQ(order[order.size() - 2].first, IDOK);
    EXPECT_EQ(order.back().first, IDCANCEL);
    for (std::size_t i = 0; i + 2 < order.size(); ++i) EXPECT_EQ(order[i].second, first_page) << i;
}

TEST_F(SettingsDialogTest, StartUpPageActsOnlyWhereABoxDiffersFromTheOpeningState) {
    SharedStateLock lock;
    ASSERT_TRUE(lock.owned());
    const bool was_registered = is_context_menu_handler_registered(handler_class_id, handler_name);
    const struct Case {
        const char* name;
        bool present;         // all three at opening
        bool click_boxes;     // flip all three
        bool delete_by_hand;  // remove the lock shortcut while the dialog is open
        bool present_after;
        int notifications;
    } cases[] = {
        {"all removed", true, true, false, false, 1},
        {"all added", false, true, false, true, 1},
        {"untouched, one deleted by hand", true, false, true, true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        notifications_ = 0;
        DeleteFileA(paths_.lock_shortcut_path);
        DeleteFileA(paths_.unlock_shortcut_path);
        unregister_context_menu_handler(handler_class_id, handler_name);
        if (c.present) install_all();
        std::vector<bool> opened;
        Script script;
        script.wait_for_window("Korvane File", &window_)
            .then(step([&] {
                for (int id : {IDC_LOCK_SHORTCUT, IDC_UNLOCK_SHORTCUT, IDC_CONTEXT_MENU}) {
                    opened.push_back(checked(page(start_up), id));
                    if (c.click_boxes) click(page(start_up), id);
                }
                if (c.delete_by_hand) DeleteFileA(paths_.lock_shortcut_path);
            }))
            .then(press_ok());
        EXPECT_EQ(run(script), 0);
        EXPECT_EQ(opened, (std::vector<bool>(3, c.present)));
        EXPECT_EQ(notifications_, c.notifications);
        const bool lock_present =
            GetFileAttributesA(paths_.lock_shortcut_path) != INVALID_FILE_ATTRIBUTES;
        EXPECT_EQ(lock_present, c.present_after && !c.delete_by_hand);
        EXPECT_EQ(GetFileAttributesA(paths_.unlock_shortcut_path) != INVALID_FILE_ATTRIBUTES,
                  c.present_after);
        EXPECT_EQ(is_context_menu_handler_registered(handler_class_id, handler_name) != 0,
                  c.present_after);
        if (c.present_after && c.click_boxes) {
            const LinkReadBack lock_back = read_link(paths_.lock_shortcut_path);
            const LinkReadBack unlock_back = read_link(paths_.unlock_shortcut_path);
            EXPECT_EQ(lock_back.arguments, "-c");
            EXPECT_EQ(lock_back.icon_index, 2);
            EXPECT_EQ(unlock_back.arguments, "-d");
            EXPECT_EQ(unlock_back.icon_index, 3);
            const auto library = read_value(handler_keys[0] + "\\InprocServer32", nullptr);
            EXPECT_EQ(library, sz(scratch_.file(own_width_library)));
        }
    }
    if (!was_registered) unregister_context_menu_handler(handler_class_id, handler_name);
}

TEST_F(SettingsDialogTest, AboutBoxClosedWithEscapeLeavesThePagesAsTheyWere) {
    HWND about = nullptr;
    bool still_select = false;
    std::string still_typed;
    Script script;
    script.wait_for_window("Korvane File", &window_)
        .then(step([&] {
            click(page(encryption), IDC_DEST_FOLDER);
            SetDlgItemTextA(page(encryption), IDC_FOLDER_EDIT, "C:\\kept");
            click(page(decryption), IDC_DEST_SELECT);
            PostMessageA(window_, WM_SYSCOMMAND, ID_VERSION_INFORMATION, 0);
        }))
        .wait_for_window("Version Information", &about)
        .then(step([&] { test::press_key(about, VK_ESCAPE); }))
        .wait_until_gone(&about)
        .then(step([&] {
            still_select = checked(page(decryption), IDC_DEST_SELECT);
            still_typed = test::window_text(GetDlgItem(page(encryption), IDC_FOLDER_EDIT));
        }))
        .then(press_ok());
    EXPECT_EQ(run(script), 0);
    EXPECT_TRUE(still_select);
    EXPECT_EQ(still_typed, "C:\\kept");
    EXPECT_EQ(current_settings.encrypt_path, destination_user_folder);
    EXPECT_STREQ(current_settings.user_defined_encrypt_path, "C:\\kept");
    EXPECT_EQ(current_settings.decrypt_path, destination_ask);
}

}  // namespace
}  // namespace korvane
