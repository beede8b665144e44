// korvane-screenshots: photographs every dialog in the states a user sees and
// saves each picture as screenshots/NAME.png under the working folder, where
// tools/screenshots picks up the README's pictures. Needs Wine and an X
// display (ImageMagick's import takes the pictures). Exits with 1 when a
// picture could not be taken.
#include <windows.h>

#include <commctrl.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/input_list.h"
#include "gui_support.h"
#include "ops/job_runner.h"
#include "ops/lock_dialog.h"
#include "resources/resource_ids.h"
#include "settings/settings.h"
#include "settings/settings_dialog.h"
#include "shell/shell_paths.h"
#include "ui/about_box.h"
#include "ui/dialog_base.h"

namespace korvane {
namespace {

bool any_failure = false;

using Shots = std::vector<test::Screenshot>;

// Adds the steps that photograph *window as name once it has settled.
void add_capture(test::Script& script, const HWND* window, const std::string& name, Shots& shots,
                 std::function<void()> prepare = {}) {
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
            if (!shots.back().start(*window, name)) test::report_failure("cannot capture " + name);
            return true;
        })
        .then([&shots] { return shots.back().done(); });
}

// After the dialog's modal run: a script cut short took fewer pictures.
void check_finished(const test::Script& script, const char* dialog) {
    if (!script.finished()) test::report_failure(std::string(dialog) + ": the script did not end");
}

void close_window(test::Script& script, const HWND* window) {
    script.then([window] {
        PostMessageA(*window, WM_SYSCOMMAND, SC_CLOSE, 0);
        return true;
    });
}

void about_box(Shots& shots) {
    HWND about = nullptr;
    test::Script script;
    script.wait_for_window("Version Information", &about);
    add_capture(script, &about, "about", shots);
    script.then([&] {
        test::press_key(about, VK_ESCAPE);
        return true;
    });
    script.start();
    show_about_box(nullptr);
    check_finished(script, "about box");
}

void lock_dialog(Shots& shots) {
    HWND window = nullptr;
    {
        input_list().clear();
        test::Script script;
        script.wait_for_window("Korvane File", &window);
        add_capture(script, &window, "lock-drop-prompt", shots);
        add_capture(script, &window, "lock-encryption", shots, [&] {
            SendMessageA(window, WM_DROPFILES,
                         reinterpret_cast<WPARAM>(test::make_drop({"C:\\data\\Photos"})), 0);
            SetDlgItemTextA(window, IDC_PASSWORD, "open sesame");
            SetDlgItemTextA(window, IDC_CONFIRM_PASSWORD, "open sesame");
        });
        close_window(script, &window);
        script.start();
        run_lock_dialog(lock_undetermined, input_list(), Settings{});
        check_finished(script, "lock dialog");
    }
    {
        input_list().clear();
        input_list().add("C:\\data\\Photos.cry");
        test::Script script;
        script.wait_for_window("Korvane File", &window);
        add_capture(script, &window, "lock-decryption", shots,
                    [&] { SetDlgItemTextA(window, IDC_DECRYPT_PASSWORD, "open sesame"); });
        close_window(script, &window);
        script.start();
        run_lock_dialog(lock_decrypt, input_list(), Settings{});
        check_finished(script, "lock dialog");
    }
    input_list().clear();
}

std::atomic<bool> release_progress{false};

// Reads a file at a steady 25 MiB a second until the picture is taken, or as
// long as a script may run.
ResultCode steady_reading(CryptJob& job) {
    job.total = std::uint64_t{400} << 20;
    job.current.set("C:\\Users\\Ann\\Pictures\\Holiday\\Beach at noon.jpg");
    for (int i = 0; i < 3000 && !job.cancel && !release_progress; ++i) {
        if (job.processed < job.total) job.processed += std::uint64_t{1} << 18;
        Sleep(10);
    }
    return result_ok;
}

void progress_dialog(Shots& shots) {
    HWND dialog = nullptr;
    test::Script script;
    // Once the speed is known, the time left shows.
    script.wait_for_window("Processing", &dialog).then([&] {
        return GetWindowTextLengthW(GetDlgItem(dialog, IDC_PROGRESS_TIME)) > 0;
    });
    add_capture(script, &dialog, "progress", shots);
    script.then([&] {
        release_progress = true;
        return true;
    });
    script.start();
    run_job(nullptr, JobRequest{"pass", "unused", 1, InputList{}, 6}, steady_reading);
    check_finished(script, "progress dialog");
}

// The default settings, and no shortcut paths: the start-up page shows its
// boxes clear whatever this machine has installed.
void settings_dialog(Shots& shots) {
    const char* names[] = {"settings-encryption", "settings-decryption", "settings-compression",
                           "settings-startup"};
    Settings settings;
    const ShellPaths paths;
    SettingsDialog dialog(settings, paths, StartUpActions{});
    HWND window = nullptr;
    test::Script script;
    script.wait_for_window("Korvane File", &window);
    for (std::size_t i = 0; i < settings_page_count; ++i) {
        // The tab control changes its selection and tells the dialog, as a click does.
        add_capture(script, &window, names[i], shots, [&window, i] {
            const HWND tabs = GetDlgItem(window, IDC_SETTINGS_TABS);
            SendMessageA(tabs, TCM_SETCURSEL, i, 0);
            NMHDR header{tabs, IDC_SETTINGS_TABS, static_cast<UINT>(TCN_SELCHANGE)};
            SendMessageA(window, WM_NOTIFY, IDC_SETTINGS_TABS, reinterpret_cast<LPARAM>(&header));
        });
    }
    close_window(script, &window);  // saves nothing
    script.start();
    run_modal(dialog, nullptr);
    check_finished(script, "settings dialog");
}

bool is_png(const std::string& windows_path) {
    std::ifstream in(windows_path, std::ios::binary);
    char head[8] = {};
    in.read(head, sizeof head);
    return in && std::string(head, 8) == "\x89PNG\r\n\x1a\n";
}

}  // namespace

namespace test {

void report_failure(const std::string& message) {
    std::fprintf(stderr, "korvane-screenshots: %s\n", message.c_str());
    any_failure = true;
}

}  // namespace test
}  // namespace korvane

int main() {
    using namespace korvane;
    const INITCOMMONCONTROLSEX classes{
        sizeof classes, ICC_BAR_CLASSES | ICC_COOL_CLASSES | ICC_PROGRESS_CLASS | ICC_TAB_CLASSES};
    InitCommonControlsEx(&classes);
    if (!module_init(GetModuleHandleA(nullptr))) return 1;
    module_attach_main_thread();

    Shots shots;
    about_box(shots);
    lock_dialog(shots);
    progress_dialog(shots);
    settings_dialog(shots);
    module_shutdown();

    for (const test::Screenshot& shot : shots) {
        if (!is_png(shot.windows_path())) {
            test::report_failure("not a picture: " + shot.windows_path());
            continue;
        }
        std::printf("%s\n", shot.unix_path().c_str());
    }
    return any_failure ? 1 : 0;
}
