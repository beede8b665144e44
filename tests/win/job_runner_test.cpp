// The job runner and its "Processing" dialog: ticks, the bar, cancellation,
// what may and may not end the dialog, and the result passed through.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "app/input_list.h"
#include "gui_support.h"
#include "ops/job_runner.h"
#include "ops/taskbar_progress.h"
#include "resources/resource_ids.h"

namespace korvane {
namespace {

namespace fs = std::filesystem;

// Test workers talk to the test through these; each waits at most a few
// seconds, so a dialog that fails to end cannot hang the run.
std::atomic<ResultCode> worker_code{0};
std::atomic<bool> worker_ran{false};
std::atomic<bool> release_worker{false};
std::atomic<std::uint64_t> worker_processed{0}, worker_total{0};

void reset_workers() {
    worker_code = 0;
    worker_ran = false;
    release_worker = false;
    worker_processed = 0;
    worker_total = 0;
}

ResultCode returns_at_once(CryptJob& job) {
    job.processed = 0;
    job.total = 0;
    worker_ran = true;
    return worker_code.load();
}

// Copies the test's counters into the job until released or cancelled.
ResultCode waits_for_release(CryptJob& job) {
    job.processed = 0;
    job.total = 0;
    worker_ran = true;
    for (int i = 0; i < 1000; ++i) {
        job.total = worker_total.load();
        job.processed = worker_processed.load();
        if (job.cancel) {
            Sleep(1200);  // finishing its block: the dialog must wait for it
            return result_cancelled;
        }
        if (release_worker) return worker_code.load();
        Sleep(10);
    }
    return -1000;  // never released: the test failed to drive the dialog
}

HANDLE cannot_start(ThreadBody, void*) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

const InputList no_inputs;
const JobRequest some_request{"secret", "unused.cry", 1, no_inputs, 6};

LRESULT bar(HWND dialog, UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
    return SendDlgItemMessageA(dialog, IDC_PROGRESS_BAR, message, wparam, lparam);
}

TEST(ProgressPercent, TruncatesAndNeverPassesAHundred) {
    struct Case {
        std::uint64_t processed, total;
        int percent;
    };
    const Case cases[] = {
        // Past 32 bits: a 10 GiB job still counts up by the percent.
        {0x140000000ull * 37 / 100 + 1, 0x140000000ull, 37},
        {0xFFFFFFFFFFFFFFFFull, 0xFFFFFFFFFFFFFFFFull, 100},
        {0, 5, 0},
        {1, 3, 33},
        {2, 3, 66},
        {99, 100, 99},
        {1, 1, 100},
        {0x7FFFFFFF, 0xFFFFFFFE, 50},
        {1, 0xFFFFFFFF, 0},
        {0xFFFFFFFF, 0xFFFFFFFF, 100},
        {200, 100, 100},
        {0xFFFFFFFF, 1, 100},  // a worker that overshoots its total
        {5, 0, 0},             // never shown: the tick leaves the bar alone without a total
    };
    for (const Case& c : cases) {
        EXPECT_EQ(progress_percent(c.processed, c.total), c.percent)
            << c.processed << " of " << c.total;
    }
}

class RunJobResult : public testing::TestWithParam<ResultCode> {};

TEST_P(RunJobResult, IsTheWorkersCodeUnchanged) {
    reset_workers();
    worker_code = GetParam();
    test::Script script;  // the dialog ends itself; the script only bounds the wait
    script.start();
    EXPECT_EQ(run_job(nullptr, some_request, returns_at_once), GetParam());
    EXPECT_TRUE(worker_ran);
    EXPECT_FALSE(script.timed_out());
}

INSTANTIATE_TEST_SUITE_P(Table, RunJobResult, testing::Values(0, 3, 15, -1, 259, INT32_MIN),
                         [](const testing::TestParamInfo<ResultCode>& info) {
                             const ResultCode code = info.param;
                             return (code < 0 ? "Minus" : "") +
                                    std::to_string(code < 0 ? -static_cast<std::int64_t>(code)
                                                            : code);
                         });

TEST(RunJob, WorkerThatEndsAtOnceStillShowsTheDialogUntilTheFirstTick) {
    reset_workers();
    HWND dialog = nullptr;
    bool seen_with_range = false;
    test::Script script;
    script.wait_for_window("Processing", &dialog).then([&] {
        PBRANGE range{};
        bar(dialog, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
        seen_with_range = range.iLow == 0 && range.iHigh == 100 && bar(dialog, PBM_GETPOS) == 0;
        return true;
    });
    script.start();
    const DWORD started = GetTickCount();
    EXPECT_EQ(run_job(nullptr, some_request, returns_at_once), 0);
    const DWORD elapsed = GetTickCount() - started;
    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(seen_with_range);
    EXPECT_GE(elapsed, 200u);  // the first tick, a quarter of a second in
    EXPECT_LT(elapsed, 10000u);
}

TEST(RunJob, BarFollowsTheCounters) {
    reset_workers();
    worker_processed = 50;
    worker_total = 200;
    HWND dialog = nullptr;
    test::Script script;
    script.wait_for_window("Processing", &dialog)
        .then([&] { return bar(dialog, PBM_GETPOS) == 25; })
        .then([&] {
            worker_processed = 150;
            return true;
        })
        .then([&] { return bar(dialog, PBM_GETPOS) == 75; })
        .then([&] {
            release_worker = true;
            return true;
        });
    script.start();
    EXPECT_EQ(run_job(nullptr, some_request, waits_for_release), 0);
    EXPECT_TRUE(script.finished());  // else the bar never showed 25 and 75
}

TEST(RunJob, BarStaysAtZeroWithoutATotal) {
    for (const std::uint32_t processed : {0u, 7u}) {
        SCOPED_TRACE(processed);
        reset_workers();
        worker_processed = processed;
        HWND dialog = nullptr;
        LRESULT position = -1;
        test::Script script;
        script.wait_for_window("Processing", &dialog)
            .pause(2500)  // two ticks
            .then([&] {
                position = bar(dialog, PBM_GETPOS);
                release_worker = true;
                return true;
            });
        script.start();
        EXPECT_EQ(run_job(nullptr, some_request, waits_for_release), 0);
        EXPECT_TRUE(script.finished());
        EXPECT_EQ(position, 0);
    }
}

// Every way of asking to stop asks first; Yes only sets the flag: the dialog
// stays until the worker has ended, then ends with the worker's code. No
// lets the job go on.
struct CancelWay {
    const char* name;
    void (*act)(HWND dialog);
    bool yes = true;
};

class RunJobCancel : public testing::TestWithParam<CancelWay> {};

TEST_P(RunJobCancel, EndsWithTheWorkersCodeAfterItStops) {
    reset_workers();
    HWND owner_window = nullptr, dialog = nullptr, question = nullptr;
    bool owner_disabled = false, still_open = false, went_on = false;
    std::string asked;
    class Owner : public DialogBase {
        bool handle_message(HWND, UINT, WPARAM, LPARAM, LRESULT&) override { return false; }
    } owner;
    owner_window = create_modeless(owner, IDD_LOCK, nullptr, 0);
    ASSERT_NE(owner_window, nullptr);
    test::DestroyOnExit cleanup{owner_window};
    ShowWindow(owner_window, SW_SHOWNA);

    test::Script script;
    script.wait_for_window("Processing", &dialog)
        .then([&] {
            owner_disabled = !IsWindowEnabled(owner_window);
            GetParam().act(dialog);
            return true;
        })
        .wait_for_window("Korvane File", test::message_box_text_id, &question)
        .then([&] {
            asked = test::window_text(GetDlgItem(question, test::message_box_text_id));
            PostMessageA(question, WM_COMMAND, GetParam().yes ? IDYES : IDNO, 0);
            return true;
        })
        .pause(200)
        .then([&] {
            still_open = IsWindow(dialog) && IsWindowVisible(dialog);
            went_on = !test::find_thread_window("Korvane File", test::message_box_text_id);
            // Declined, the worker runs on until it is released.
            if (!GetParam().yes) release_worker = true;
            return true;
        });
    script.start();
    EXPECT_EQ(run_job(owner_window, some_request, waits_for_release),
              GetParam().yes ? result_cancelled : result_ok);
    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(owner_disabled);
    EXPECT_EQ(asked, cancel_question);
    EXPECT_TRUE(still_open);
    EXPECT_TRUE(went_on);  // one question, however often it was asked for
    EXPECT_TRUE(IsWindowEnabled(owner_window));
}

INSTANTIATE_TEST_SUITE_P(
    Table, RunJobCancel,
    testing::Values(
        CancelWay{"CancelButton",
                  [](HWND dialog) { PostMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0); }},
        CancelWay{"EscapeKey", [](HWND dialog) { test::press_key(dialog, VK_ESCAPE); }},
        CancelWay{"CloseRequest",
                  [](HWND dialog) { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }},
        CancelWay{"CancelTwice",
                  [](HWND dialog) {
                      PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
                      PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
                  }},
        CancelWay{"EscapeDeclined", [](HWND dialog) { test::press_key(dialog, VK_ESCAPE); },
                  false}),
    [](const testing::TestParamInfo<CancelWay>& info) { return std::string(info.param.name); });

TEST(RunJob, NeitherOkNorSystemCommandsEndTheDialogWhileTheWorkerRuns) {
    reset_workers();
    HWND dialog = nullptr, question = nullptr;
    bool open_after_tick = false, minimised = false, restored = false;
    test::Script script;
    script.wait_for_window("Processing", &dialog)
        .then([&] {
            PostMessageA(dialog, WM_COMMAND, IDOK, 0);
            test::press_key(dialog, VK_RETURN);
            // Without an owner the dialog is the window the taskbar shows.
            PostMessageA(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);
            return true;
        })
        .pause(600)  // past two ticks
        .then([&] {
            open_after_tick = IsWindow(dialog) != FALSE;
            minimised = IsIconic(dialog) != FALSE;
            PostMessageA(dialog, WM_SYSCOMMAND, SC_RESTORE, 0);
            return true;
        })
        .pause(300)
        .then([&] {
            restored = IsWindowVisible(dialog) && !IsIconic(dialog);
            // The dialog manager turns a close message into a cancel.
            PostMessageA(dialog, WM_CLOSE, 0, 0);
            return true;
        })
        .wait_for_window("Korvane File", test::message_box_text_id, &question)
        .then([&] {
            PostMessageA(question, WM_COMMAND, IDYES, 0);
            return true;
        });
    script.start();
    EXPECT_EQ(run_job(nullptr, some_request, waits_for_release), result_cancelled);
    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(open_after_tick);
    EXPECT_TRUE(minimised);
    EXPECT_TRUE(restored);
}

TEST(RunJob, MinimisingTheProgressMinimisesTheWindowTheTaskbarShows) {
    reset_workers();
    class Owner : public DialogBase {
        bool handle_message(HWND, UINT, WPARAM, LPARAM, LRESULT&) override { return false; }
    } owner;
    const HWND owner_window = create_modeless(owner, IDD_LOCK, nullptr, 0);
    ASSERT_NE(owner_window, nullptr);
    test::DestroyOnExit cleanup{owner_window};
    ShowWindow(owner_window, SW_SHOWNA);
    HWND dialog = nullptr;
    bool owner_minimised = false, progress_kept = false;
    test::Script script;
    script.wait_for_window("Processing", &dialog)
        .then([&] {
            PostMessageA(dialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);
            return true;
        })
        .then([&] { return IsIconic(owner_window) != FALSE; })
        .then([&] {
            // Windows hides the owned progress with its owner; Wine leaves it.
            owner_minimised = true;
            progress_kept = IsWindow(dialog) != FALSE;
            ShowWindow(owner_window, SW_RESTORE);
            release_worker = true;
            return true;
        });
    script.start();
    EXPECT_EQ(run_job(owner_window, some_request, waits_for_release), 0);
    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(owner_minimised);
    EXPECT_TRUE(progress_kept);
    EXPECT_FALSE(IsIconic(owner_window));
}

using test::RecordingTaskbar;

std::string item_text(HWND dialog, int id) {
    return test::window_text(GetDlgItem(dialog, id));
}

// Tells the dialog a file name and moves the counters on steadily until
// released: 1 MiB every 50 ms of a 64 MiB job.
ResultCode streams_steadily(CryptJob& job) {
    job.processed = 0;
    job.total = 64u << 20;
    job.current.set("C:\\data\\Quarterly report.docx");
    worker_ran = true;
    for (int i = 0; i < 400 && !release_worker && !job.cancel; ++i) {
        Sleep(50);
        job.processed += 1u << 20;
    }
    return job.cancel ? result_cancelled : worker_code.load();
}

TEST(RunJob, ProgressNamesTheFileTheBytesTheSpeedAndTheTimeLeft) {
    reset_workers();
    RecordingTaskbar taskbar;
    HWND dialog = nullptr;
    std::string file, bytes, speed, left;
    test::Script script;
    script.wait_for_window("Processing", &dialog)
        .then([&] { return !item_text(dialog, IDC_PROGRESS_TIME).empty(); })
        .then([&] {
            file = item_text(dialog, IDC_PROGRESS_FILE);
            bytes = item_text(dialog, IDC_PROGRESS_BYTES);
            speed = item_text(dialog, IDC_PROGRESS_SPEED);
            left = item_text(dialog, IDC_PROGRESS_TIME);
            return true;
        })
        .pause(1000)
        .then([&] {
            release_worker = true;
            return true;
        });
    script.start();
    EXPECT_EQ(run_job(nullptr, some_request, streams_steadily), 0);
    EXPECT_TRUE(script.finished());
    EXPECT_EQ(file, "C:\\data\\Quarterly report.docx");
    EXPECT_NE(bytes.find(" MB of 64 MB"), std::string::npos) << bytes;
    // 20 MiB a second, give or take the scheduler.
    EXPECT_NE(speed.find(" MB/s"), std::string::npos) << speed;
    EXPECT_EQ(left.rfind("About ", 0), 0u) << left;
    EXPECT_NE(left.find(" seconds left"), std::string::npos) << left;

    // Four updates a second, each on the dialog's own button; averaged over
    // the run, since a loaded machine delivers a timer late now and then.
    std::size_t updates = 0;
    DWORD first = 0, last = 0;
    for (const auto& call : taskbar.calls) {
        if (call.state != TaskbarState::normal) continue;
        if (updates++ == 0) first = call.at;
        last = call.at;
    }
    ASSERT_GT(last, first);
    EXPECT_GE((updates - 1) * 1000.0 / (last - first), 3.5) << updates << " in " << last - first;
    ASSERT_NE(taskbar.last(), nullptr);
    EXPECT_EQ(taskbar.last()->state, TaskbarState::none);  // success clears the button
    for (const auto& call : taskbar.calls) EXPECT_EQ(call.window, dialog);
}

TEST(RunJob, TaskbarShowsNormalPausedWhileAQuestionWaitsAndErrorOnFailure) {
    reset_workers();
    worker_total = 200;
    worker_processed = 50;
    worker_code = result_read_failed;
    RecordingTaskbar taskbar;
    ProgressDialog progress(waits_for_release, start_worker_thread);
    HWND dialog = nullptr;
    std::optional<ProgressDialog::QuestionPause> question;
    bool normal_first = false, paused_across_ticks = false, normal_again = false;
    test::Script script;
    script.wait_for_window("Processing", &dialog)
        .then([&] {
            const auto* last = taskbar.last();
            return last && last->state == TaskbarState::normal && last->done == 50 &&
                   last->total == 200;
        })
        .then([&] {
            normal_first = true;
            question.emplace(progress);
            return true;
        })
        .pause(600)  // ticks come and go while the question waits
        .then([&] {
            paused_across_ticks = taskbar.last()->state == TaskbarState::paused;
            question.reset();
            normal_again = taskbar.last()->state == TaskbarState::normal;
            release_worker = true;
            return true;
        });
    script.start();
    EXPECT_EQ(progress.run(nullptr, some_request), result_read_failed);
    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(normal_first);
    EXPECT_TRUE(paused_across_ticks);
    EXPECT_TRUE(normal_again);
    ASSERT_NE(taskbar.last(), nullptr);
    EXPECT_EQ(taskbar.last()->state, TaskbarState::error);
}

TEST(RunJob, ThreadThatCannotBeCreatedEndsAtOnceWithTheStartFailure) {
    reset_workers();
    test::Script script;
    script.start();
    const DWORD started = GetTickCount();
    EXPECT_EQ(run_job(nullptr, some_request, returns_at_once, cannot_start), job_start_failed);
    EXPECT_EQ(job_start_failed, 13);
    EXPECT_LT(GetTickCount() - started, 900u);  // no tick waited for
    EXPECT_FALSE(worker_ran);
    EXPECT_FALSE(script.timed_out());
}

// The real workers behind the dialog.
class RunJobArchive : public testing::Test {
  protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("kvn-runner-" + std::to_string(GetCurrentProcessId()) + "-" +
                   testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        inputs_.clear();
    }
    void TearDown() override {
        inputs_.clear();
        fs::remove_all(folder_);
    }

    // Incompressible bytes, so deflate takes its time over them.
    void write_noise(const fs::path& path, std::size_t size) {
        std::vector<char> data(size);
        std::uint32_t x = 2463534242u;
        for (char& byte : data) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            byte = static_cast<char>(x);
        }
        std::ofstream(path, std::ios::binary)
            .write(data.data(), static_cast<std::streamsize>(size));
    }

    std::vector<std::string> names_in(const fs::path& folder) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

    fs::path folder_;
    InputList inputs_;
};

TEST_F(RunJobArchive, EncryptsAndDecryptsByDirection) {
    const fs::path source = folder_ / "note.txt";
    std::ofstream(source, std::ios::binary) << "a short note";
    const std::string archive = (folder_ / "note.cry").string();
    const std::string restored = (folder_ / "out").string();
    test::Script script;
    script.start();

    inputs_.add(source.string().c_str());
    EXPECT_EQ(run_job(nullptr, JobRequest{"pass", archive.c_str(), 1, inputs_, 6}), result_ok);
    ASSERT_TRUE(fs::exists(archive));

    inputs_.clear();
    inputs_.add(archive.c_str());
    EXPECT_EQ(run_job(nullptr, JobRequest{"pass", restored.c_str(), 2, inputs_, 6}), result_ok);
    EXPECT_TRUE(fs::exists(fs::path(restored) / "note.txt"));
    EXPECT_EQ(
        run_job(nullptr, JobRequest{"wrong", (folder_ / "again").string().c_str(), 2, inputs_, 6}),
        result_bad_password);
    EXPECT_FALSE(script.timed_out());
}

// The encryption worker again, each finished archive removed, until one run
// ends otherwise: however fast this machine deflates, the cancel meets a job
// under way (a cancel between two runs is the next run's to see). A worker
// that never heeds it gives up after many runs, and the test fails.
ResultCode encrypt_until_cancelled(CryptJob& job) {
    for (int run = 0; run < 100; ++run) {
        if (const ResultCode result = encrypt_worker(job)) return result;
        std::error_code ignored;
        fs::remove(job.output_path, ignored);
    }
    return result_ok;
}

TEST_F(RunJobArchive, CancelDuringEncryptionEndsWithThreeAndRemovesThePartialArchive) {
    const fs::path source = folder_ / "big.bin";
    // Letters of a small alphabet deflate (noise would be stored) and slowly
    // at level 9.
    std::vector<char> letters(32u << 20);
    std::uint32_t x = 2463534242u;
    for (char& letter : letters) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        letter = static_cast<char>('a' + (x & 15));
    }
    std::ofstream(source, std::ios::binary)
        .write(letters.data(), static_cast<std::streamsize>(letters.size()));
    const std::string archive = (folder_ / "big.cry").string();
    inputs_.add(source.string().c_str());

    HWND dialog = nullptr, question = nullptr;
    bool partial_seen = false;
    test::Script script;
    script.wait_for_window("Processing", &dialog)
        .then([&] {
            // The writer's file appears beside the input once it has begun.
            partial_seen = names_in(folder_).size() > 1;
            return partial_seen;
        })
        .then([&] {
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
            return true;
        })
        .wait_for_window("Korvane File", test::message_box_text_id, &question)
        .then([&] {
            PostMessageA(question, WM_COMMAND, IDYES, 0);
            return true;
        });
    script.start();
    EXPECT_EQ(run_job(nullptr, JobRequest{"pass", archive.c_str(), 1, inputs_, 9},
                      encrypt_until_cancelled),
              result_cancelled);
    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(partial_seen);
    EXPECT_EQ(names_in(folder_), std::vector<std::string>{"big.bin"});
}

}  // namespace
}  // namespace korvane
