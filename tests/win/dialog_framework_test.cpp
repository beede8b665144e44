// The dialog framework under Wine: binding from the first message, nested and
// cross-thread creations, the answers given to the dialog manager, release of
// the window handle, centring, and the file dialog hook.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <thread>
#include <vector>

#include "gui_support.h"
#include "resources/resource_ids.h"
#include "ui/dialog_base.h"
#include "ui/file_dialog_host.h"

namespace korvane {
namespace {

// Records what its map sees; answers WM_INITDIALOG and optionally one more
// message as configured.
class RecordingDialog : public DialogBase {
  public:
    bool handle_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                        LRESULT& result) override {
        messages.push_back(message);
        if (message == WM_INITDIALOG) {
            init_parameter = lparam;
            if (on_init) on_init(window);
            result = init_result;
            return true;
        }
        if (answer && message == answer_message) {
            result = answer_value;
            return true;
        }
        if (on_message) return on_message(message, wparam, lparam, result);
        return false;
    }
    void window_released(HWND window) override { released = window; }

    int count(UINT message) const {
        return static_cast<int>(std::count(messages.begin(), messages.end(), message));
    }

    std::vector<UINT> messages;
    LPARAM init_parameter = 0;
    LRESULT init_result = TRUE;
    HWND released = nullptr;
    std::function<void(HWND)> on_init;
    bool answer = false;
    UINT answer_message = 0;
    LRESULT answer_value = 0;
    std::function<bool(UINT, WPARAM, LPARAM, LRESULT&)> on_message;
};

using test::DestroyOnExit;

TEST(DialogBinding, MessageSentDuringCreationReachesTheMap) {
    RecordingDialog dialog;
    const HWND window = create_modeless(dialog, IDD_PROGRESS, nullptr, 77);
    ASSERT_NE(window, nullptr) << GetLastError();
    DestroyOnExit cleanup{window};

    EXPECT_EQ(dialog.window(), window);
    ASSERT_FALSE(dialog.messages.empty());
    EXPECT_EQ(dialog.messages.front(), static_cast<UINT>(WM_SETFONT));
    const auto init = std::find(dialog.messages.begin(), dialog.messages.end(), WM_INITDIALOG);
    ASSERT_NE(init, dialog.messages.end());
    EXPECT_GT(init - dialog.messages.begin(), 0);
    EXPECT_EQ(dialog.init_parameter, 77);
    EXPECT_EQ(dialog.current_message(), nullptr);
    EXPECT_EQ(pending_creations(), 0u);
}

TEST(DialogBinding, DialogsCreatedInsideAHandlerBindToTheirOwnObjects) {
    RecordingDialog outer, encryption_page, decryption_page;
    HWND made_encryption = nullptr, made_decryption = nullptr;
    outer.on_init = [&](HWND window) {
        made_encryption = create_modeless(encryption_page, IDD_PAGE_ENCRYPTION, window, 0);
        made_decryption = create_modeless(decryption_page, IDD_PAGE_DECRYPTION, window, 0);
    };
    const HWND window = create_modeless(outer, IDD_SETTINGS, nullptr, 0);
    ASSERT_NE(window, nullptr);
    DestroyOnExit cleanup{window};

    EXPECT_EQ(outer.window(), window);
    ASSERT_NE(made_encryption, nullptr);
    ASSERT_NE(made_decryption, nullptr);
    EXPECT_EQ(encryption_page.window(), made_encryption);
    EXPECT_EQ(decryption_page.window(), made_decryption);
    EXPECT_EQ(GetParent(made_encryption), window);
    // Each page is built from its own template: only 208 has the date box.
    EXPECT_NE(GetDlgItem(made_encryption, IDC_ADD_DATE), nullptr);
    EXPECT_EQ(GetDlgItem(made_decryption, IDC_ADD_DATE), nullptr);
    EXPECT_EQ(outer.count(WM_INITDIALOG), 1);
    EXPECT_EQ(encryption_page.count(WM_INITDIALOG), 1);
    EXPECT_EQ(decryption_page.count(WM_INITDIALOG), 1);
    EXPECT_EQ(pending_creations(), 0u);
}

TEST(DialogBinding, NewestRecordOfTheThreadIsTaken) {
    RecordingDialog stale, dialog;
    ASSERT_TRUE(register_creation(stale.creation_record(), stale));
    const HWND window = create_modeless(dialog, IDD_ABOUT, nullptr, 0);
    DestroyOnExit cleanup{window};
    ASSERT_NE(window, nullptr);

    EXPECT_EQ(dialog.window(), window);
    EXPECT_EQ(stale.window(), nullptr);
    EXPECT_TRUE(stale.messages.empty());
    EXPECT_EQ(pending_creations(), 1u);
    withdraw_creation(stale.creation_record());
    EXPECT_EQ(pending_creations(), 0u);
}

TEST(DialogBinding, FailedCreationLeavesNoRecordBehind) {
    RecordingDialog missing;
    EXPECT_EQ(create_modeless(missing, 9999, nullptr, 0), nullptr);
    EXPECT_EQ(run_modal(missing, 9999, nullptr, 0), -1);
    EXPECT_EQ(pending_creations(), 0u);
    EXPECT_EQ(missing.window(), nullptr);

    RecordingDialog next;
    const HWND window = create_modeless(next, IDD_ABOUT, nullptr, 0);
    DestroyOnExit cleanup{window};
    EXPECT_EQ(next.window(), window);
    EXPECT_TRUE(missing.messages.empty());
}

TEST(DialogBinding, RecordOfAnotherThreadIsSkipped) {
    RecordingDialog mine, theirs;
    HANDLE registered = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE overtaken = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(registered && overtaken);
    HWND their_window = nullptr;
    bool their_binding_ok = false;

    // The other thread registers first; this thread's record then sits at
    // the head of the list when the other thread's window is created.
    std::thread other([&] {
        register_creation(theirs.creation_record(), theirs);
        SetEvent(registered);
        if (WaitForSingleObject(overtaken, 10000) != WAIT_OBJECT_0) {
            withdraw_creation(theirs.creation_record());
            return;
        }
        their_window = CreateDialogParamA(module_instance(), MAKEINTRESOURCEA(IDD_ABOUT), nullptr,
                                          start_dialog_procedure, 0);
        withdraw_creation(theirs.creation_record());
        their_binding_ok = their_window && theirs.window() == their_window;
        if (their_window) DestroyWindow(their_window);
    });
    const bool other_registered = WaitForSingleObject(registered, 10000) == WAIT_OBJECT_0;
    register_creation(mine.creation_record(), mine);
    SetEvent(overtaken);
    other.join();
    CloseHandle(registered);
    CloseHandle(overtaken);

    ASSERT_TRUE(other_registered);
    EXPECT_TRUE(their_binding_ok);
    EXPECT_TRUE(mine.messages.empty());  // never taken by the other thread's window
    EXPECT_EQ(pending_creations(), 1u);
    withdraw_creation(mine.creation_record());
    EXPECT_EQ(pending_creations(), 0u);
}

TEST(DialogBinding, WindowWithoutRecordNeverTakesALaterOne) {
    const HWND stray = CreateDialogParamA(module_instance(), MAKEINTRESOURCEA(IDD_ABOUT), nullptr,
                                          start_dialog_procedure, 0);
    ASSERT_NE(stray, nullptr);
    DestroyOnExit cleanup{stray};

    RecordingDialog waiting;
    register_creation(waiting.creation_record(), waiting);
    SendMessageA(stray, WM_COMMAND, IDOK, 0);
    SendMessageA(stray, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("renamed"));
    EXPECT_TRUE(waiting.messages.empty());
    EXPECT_EQ(pending_creations(), 1u);
    withdraw_creation(waiting.creation_record());
}

struct Answer {
    const char* name;
    UINT message;
    bool handled;
    LRESULT value;
    INT_PTR returned;         // what the dialog manager gets back
    LONG_PTR message_result;  // DWLP_MSGRESULT afterwards
};

constexpr LONG_PTR untouched = 0x5A5A;

class InstanceProcedureAnswers : public testing::TestWithParam<Answer> {};

TEST_P(InstanceProcedureAnswers, AreWhatTheDialogManagerExpects) {
    const Answer& answer = GetParam();
    RecordingDialog dialog;
    const HWND window = create_modeless(dialog, IDD_ABOUT, nullptr, 0);
    ASSERT_NE(window, nullptr);
    DestroyOnExit cleanup{window};
    dialog.answer = answer.handled;
    dialog.answer_message = answer.message;
    dialog.answer_value = answer.value;
    dialog.init_result = answer.value;

    SetWindowLongPtrA(window, DWLP_MSGRESULT, untouched);
    EXPECT_EQ(instance_procedure(&dialog, answer.message, IDC_START, 0), answer.returned);
    EXPECT_EQ(GetWindowLongPtrA(window, DWLP_MSGRESULT), answer.message_result);
}

INSTANTIATE_TEST_SUITE_P(
    Table, InstanceProcedureAnswers,
    testing::Values(Answer{"CommandHandled", WM_COMMAND, true, 42, TRUE, 42},
                    Answer{"CommandUnhandled", WM_COMMAND, false, 42, FALSE, untouched},
                    Answer{"NotifyHandled", WM_NOTIFY, true, -7, TRUE, -7},
                    Answer{"InitDialogReturnsOne", WM_INITDIALOG, true, TRUE, TRUE, untouched},
                    Answer{"InitDialogReturnsZero", WM_INITDIALOG, true, FALSE, FALSE, untouched},
                    Answer{"ColourOfStatic", WM_CTLCOLORSTATIC, true, 0x1234, 0x1234, untouched},
                    Answer{"ColourOfMessageBox", WM_CTLCOLORMSGBOX, true, 0x99, 0x99, untouched},
                    Answer{"DragIcon", WM_QUERYDRAGICON, true, 0x77, 0x77, untouched},
                    Answer{"CompareItem", WM_COMPAREITEM, true, -1, -1, untouched},
                    Answer{"VirtualKeyToItem", WM_VKEYTOITEM, true, -2, -2, untouched},
                    Answer{"CharToItem", WM_CHARTOITEM, true, 3, 3, untouched},
                    Answer{"JustBeforeTheColourRange", WM_CTLCOLORMSGBOX - 1, true, 5, TRUE, 5},
                    Answer{"JustPastTheColourRange", WM_CTLCOLORSTATIC + 1, true, 6, TRUE, 6}),
    [](const testing::TestParamInfo<Answer>& info) { return std::string(info.param.name); });

TEST(InstanceProcedure, CurrentMessageIsRestoredAfterANestedOne) {
    RecordingDialog dialog;
    const MSG* seen_inner = nullptr;
    UINT inner_message = 0, outer_after = 0;
    WPARAM outer_wparam = 0;
    dialog.on_message = [&](UINT message, WPARAM, LPARAM, LRESULT&) {
        if (message == WM_APP) {
            SendMessageA(dialog.window(), WM_APP + 1, 0, 0);
            outer_after = dialog.current_message()->message;
            outer_wparam = dialog.current_message()->wParam;
            return true;
        }
        if (message == WM_APP + 1) {
            seen_inner = dialog.current_message();
            inner_message = seen_inner->message;
            return true;
        }
        return false;
    };
    const HWND window = create_modeless(dialog, IDD_ABOUT, nullptr, 0);
    ASSERT_NE(window, nullptr);
    DestroyOnExit cleanup{window};

    SendMessageA(window, WM_APP, 31, 0);
    EXPECT_EQ(inner_message, static_cast<UINT>(WM_APP + 1));
    EXPECT_EQ(outer_after, static_cast<UINT>(WM_APP));
    EXPECT_EQ(outer_wparam, 31u);
    EXPECT_EQ(dialog.current_message(), nullptr);
}

TEST(DialogLifetime, WindowHandleIsNullOnceTheWindowIsGone) {
    for (const bool handles_ncdestroy : {false, true}) {
        SCOPED_TRACE(handles_ncdestroy ? "map handles WM_NCDESTROY" : "map ignores WM_NCDESTROY");
        RecordingDialog dialog;
        dialog.on_message = [&](UINT message, WPARAM, LPARAM, LRESULT&) {
            return handles_ncdestroy && message == WM_NCDESTROY;
        };
        const HWND window = create_modeless(dialog, IDD_ABOUT, nullptr, 0);
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(DestroyWindow(window));
        EXPECT_EQ(dialog.window(), nullptr);
        EXPECT_EQ(dialog.released, window);
        EXPECT_EQ(dialog.count(WM_NCDESTROY), 1);
    }
}

TEST(DialogLifetime, ModalRunReturnsTheEndDialogValue) {
    RecordingDialog dialog;
    dialog.on_init = [](HWND window) { PostMessageA(window, WM_APP, 0, 0); };
    dialog.on_message = [&](UINT message, WPARAM, LPARAM, LRESULT&) {
        if (message != WM_APP) return false;
        EndDialog(dialog.window(), 5);
        return true;
    };
    test::Script script;  // only a safety net: nothing here waits on it
    script.start();
    EXPECT_EQ(run_modal(dialog, IDD_ABOUT, nullptr, 9), 5);
    EXPECT_EQ(dialog.init_parameter, 9);
    EXPECT_EQ(dialog.window(), nullptr);
    EXPECT_NE(dialog.released, nullptr);
}

// center_window: where each kind of dialog lands.
enum class Centre {
    child,
    child_larger_than_parent,
    owned,
    owned_at_edge,
    hidden_owner,
    minimised_owner,
    unowned
};

struct Placement {
    const char* name;
    Centre kind;
};

class CenterWindowPlacement : public testing::TestWithParam<Placement> {};

RECT window_rect(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect;
}

TEST_P(CenterWindowPlacement, MatchesTheCentreRectangle) {
    const Centre kind = GetParam().kind;
    RECT area{};
    ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0));

    RecordingDialog parent, dialog;
    const bool child = kind == Centre::child || kind == Centre::child_larger_than_parent;
    const int parent_template =
        kind == Centre::child_larger_than_parent ? IDD_PROGRESS : IDD_SETTINGS;
    const HWND parent_window =
        create_modeless(parent, child ? parent_template : IDD_LOCK, nullptr, 0);
    ASSERT_NE(parent_window, nullptr);
    DestroyOnExit parent_cleanup{parent_window};

    if (kind == Centre::child || kind == Centre::child_larger_than_parent) {
        // Larger or smaller than the page, whatever the templates' sizes.
        const bool large = kind == Centre::child;
        SetWindowPos(parent_window, nullptr, 0, 0, large ? 900 : 200, large ? 800 : 150,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (kind == Centre::owned_at_edge) {
        SetWindowPos(parent_window, nullptr, area.right - 60, area.bottom - 40, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    } else {
        SetWindowPos(parent_window, nullptr, area.left + 100, area.top + 80, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (kind != Centre::hidden_owner) ShowWindow(parent_window, SW_SHOWNA);
    if (kind == Centre::minimised_owner) ShowWindow(parent_window, SW_SHOWMINNOACTIVE);

    const HWND owner = kind == Centre::unowned ? nullptr : parent_window;
    const HWND window = create_modeless(dialog, child ? IDD_PAGE_ENCRYPTION : IDD_ABOUT, owner, 0);
    ASSERT_NE(window, nullptr);
    DestroyOnExit cleanup{window};
    ASSERT_TRUE(center_window(window));

    const RECT own = window_rect(window);
    const int width = own.right - own.left, height = own.bottom - own.top;
    if (child) {
        RECT client{};
        GetClientRect(parent_window, &client);
        POINT at{own.left, own.top};
        ScreenToClient(parent_window, &at);
        if (kind == Centre::child) {
            ASSERT_LT(width, client.right);
            EXPECT_EQ(at.x, client.right / 2 - width / 2);
            EXPECT_EQ(at.y, client.bottom / 2 - height / 2);
        } else {
            ASSERT_GT(width, client.right);
            EXPECT_EQ(at.x, 0);  // held at the left and top of the parent's client area
            EXPECT_EQ(at.y, 0);
        }
        return;
    }
    RECT centre = area;
    if (kind == Centre::owned || kind == Centre::owned_at_edge) centre = window_rect(parent_window);
    if (kind == Centre::child || kind == Centre::child_larger_than_parent) {
        // Larger or smaller than the page, whatever the templates' sizes.
        const bool large = kind == Centre::child;
        SetWindowPos(parent_window, nullptr, 0, 0, large ? 900 : 200, large ? 800 : 150,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (kind == Centre::owned_at_edge) {
        EXPECT_EQ(own.right, area.right);
        EXPECT_EQ(own.bottom, area.bottom);
    } else {
        EXPECT_EQ(own.left, (centre.left + centre.right) / 2 - width / 2);
        EXPECT_EQ(own.top, (centre.top + centre.bottom) / 2 - height / 2);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, CenterWindowPlacement,
    testing::Values(Placement{"Child", Centre::child},
                    Placement{"ChildLargerThanParent", Centre::child_larger_than_parent},
                    Placement{"Owned", Centre::owned},
                    Placement{"OwnedAtTheWorkAreaEdge", Centre::owned_at_edge},
                    Placement{"HiddenOwner", Centre::hidden_owner},
                    Placement{"MinimisedOwner", Centre::minimised_owner},
                    Placement{"Unowned", Centre::unowned}),
    [](const testing::TestParamInfo<Placement>& info) { return std::string(info.param.name); });

// The hook binds the file dialog's child window to the host; once the dialog
// returns, the host holds no window.
class RecordingFileDialog : public FileDialogHost {
  public:
    using FileDialogHost::FileDialogHost;
    bool handle_message(HWND window, UINT, WPARAM, LPARAM, LRESULT&) override {
        if (!first_window) first_window = window;
        bound_during_run = bound_during_run || this->window() == window;
        ++messages;
        return false;
    }
    HWND first_window = nullptr;
    bool bound_during_run = false;
    int messages = 0;
};

TEST(FileDialogHostRun, HookBindsAndTheHandleIsClearedAfterwards) {
    RecordingFileDialog host(true, L"cry", "start.cry", OFN_FILEMUSTEXIST,
                             L"All files (*.*)\0*.*\0", nullptr);
    host.descriptor().lpstrTitle = L"Korvane test picker";
    HWND picker = nullptr;
    test::Script script;
    script.wait_for_window("Korvane test picker", &picker).then([&] {
        PostMessageA(picker, WM_COMMAND, IDCANCEL, 0);
        return true;
    });
    script.start();
    EXPECT_FALSE(host.run());
    EXPECT_TRUE(script.finished());
    EXPECT_EQ(CommDlgExtendedError(), 0u);  // cancelled, not failed
    EXPECT_GT(host.messages, 0);
    EXPECT_TRUE(host.bound_during_run);
    EXPECT_EQ(host.window(), nullptr);
    EXPECT_EQ(pending_creations(), 0u);
    EXPECT_EQ(host.file_name(), "start.cry");
}

}  // namespace
}  // namespace korvane
