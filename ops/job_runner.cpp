#include "ops/job_runner.h"

#include <commctrl.h>
#include <process.h>

#include <new>
#include <string>
#include <vector>

#include "ops/job_messages.h"
#include "platform/win32/wide.h"
#include "resources/resource_ids.h"
#include "ui/message_map.h"

namespace korvane {
namespace {

constexpr UINT_PTR progress_timer_id = 10001;
// Four updates a second at least: the file, the bytes and the speed move
// visibly, and a short job ends soon after its worker.
constexpr UINT progress_period_ms = 250;

}  // namespace

HANDLE start_worker_thread(ThreadBody body, void* argument) {
    return reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, body, argument, 0, nullptr));
}

ResultCode run_job(HWND owner, const JobRequest& request) {
    return run_job(owner, request, request.direction == 1 ? encrypt_worker : decrypt_worker);
}

ResultCode run_job(HWND owner, const JobRequest& request, WorkerEntry worker,
                   ThreadStarter starter) {
    // The bar's class, whatever classes the caller registered; without it the
    // dialog cannot be created, which ends the job as a failed start below.
    const INITCOMMONCONTROLSEX classes{sizeof classes, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&classes);
    ProgressDialog dialog(worker, starter);
    const ResultCode result = dialog.run(owner, request);
    if (request.refused_path) *request.refused_path = dialog.refused_path();
    if (request.fault) *request.fault = dialog.fault();
    return result;
}

int progress_percent(std::uint64_t processed, std::uint64_t total) {
    if (total == 0) return 0;
    const double percent = static_cast<double>(processed) / static_cast<double>(total) * 100.0;
    // Converting a double beyond int's range would be undefined.
    return percent >= 100.0 ? 100 : static_cast<int>(percent);
}

ProgressDialog::ProgressDialog(WorkerEntry worker, ThreadStarter starter)
    : worker_(worker), starter_(starter) {}

ProgressDialog::~ProgressDialog() {
    // The worker uses this object's job and counters: it must not outlive them.
    if (thread_) join();
}

bool ProgressDialog::handle_message(HWND, UINT message, WPARAM wparam, LPARAM lparam,
                                    LRESULT& result) {
    // No entry for IDOK (the Enter key): nothing but the worker's end may end
    // this dialog, since the worker still uses the caller's strings.
    static constexpr MessageEntry<ProgressDialog> map[] = {
        on_message(WM_INITDIALOG, &ProgressDialog::on_init_dialog),
        on_message(WM_SYSCOMMAND, &ProgressDialog::on_system_command),
        on_message(WM_TIMER, &ProgressDialog::on_timer),
        on_command(IDCANCEL, &ProgressDialog::on_cancel),
    };
    return dispatch_message_map(*this, map, message, wparam, lparam, result);
}

ResultCode ProgressDialog::run(HWND owner, const JobRequest& request) {
    run_modal(*this, owner, reinterpret_cast<LPARAM>(&request));
    // Should anything have destroyed the dialog while the worker ran, the
    // worker is stopped here, before the request goes out of the caller's scope.
    if (thread_) join();
    return ended_ ? outcome_ : job_start_failed;
}

unsigned __stdcall ProgressDialog::thread_body(void* argument) {
    auto* dialog = static_cast<ProgressDialog*>(argument);
    const ResultCode code = dialog->worker_(*dialog->job_);
    dialog->worker_result_.store(code);
    // Returning hands the code to _endthreadex, which ends the thread with it.
    return static_cast<unsigned>(code);
}

LRESULT ProgressDialog::on_init_dialog(WPARAM, LPARAM lparam, bool&) {
    const auto* request = reinterpret_cast<const JobRequest*>(lparam);
    cancel_ = false;
    if (request && make_job(*request)) thread_.reset(starter_(thread_body, this));
    if (!thread_) {
        ended_ = true;
        outcome_ = job_start_failed;
        EndDialog(window(), outcome_);
        return TRUE;  // no bar and no timer: no tick would find a thread
    }
    SendDlgItemMessageA(window(), IDC_PROGRESS_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendDlgItemMessageA(window(), IDC_PROGRESS_BAR, PBM_SETPOS, 0, 0);
    started_ms_ = GetTickCount64();
    show_on_taskbar(TaskbarState::normal);
    if (!SetTimer(window(), progress_timer_id, progress_period_ms, nullptr)) {
        // Without ticks nothing would ever end the dialog: stop the worker,
        // wait for it, and end with whatever it returned.
        join();
        EndDialog(window(), outcome_);
    }
    return TRUE;  // focus to the default place, the Cancel button
}

LRESULT ProgressDialog::on_timer(WPARAM, LPARAM, bool&) {
    if (!thread_) return 0;
    // A failed wait counts as running: ending now could free the job under
    // the worker.
    if (WaitForSingleObject(thread_.get(), 0) != WAIT_OBJECT_0) {
        show_progress();
        return 0;
    }
    finish();
    // A failure stays on the button while its message is read; success and
    // cancel clear it.
    show_on_taskbar(outcome_ == result_ok || outcome_ == result_cancelled ? TaskbarState::none
                                                                          : TaskbarState::error);
    EndDialog(window(), outcome_);
    return 0;
}

void ProgressDialog::show_progress() {
    const std::uint64_t total = total_.load();
    const std::uint64_t processed = processed_.load();
    const ULONGLONG elapsed = GetTickCount64() - started_ms_;
    rate_.add(elapsed, processed);
    if (total != 0) {
        SendDlgItemMessageA(window(), IDC_PROGRESS_BAR, PBM_SETPOS,
                            progress_percent(processed, total), 0);
        SetDlgItemTextW(window(), IDC_PROGRESS_BYTES,
                        win::widen(bytes_done_text(processed, total)).c_str());
    }
    if (job_) {
        // Only a new name is drawn again: no flicker four times a second.
        std::string file = job_->current.get();
        if (file != shown_file_) {
            SetDlgItemTextW(window(), IDC_PROGRESS_FILE, win::widen(file).c_str());
            shown_file_ = std::move(file);
        }
    }
    const std::optional<double> speed = rate_.bytes_per_second();
    SetDlgItemTextW(window(), IDC_PROGRESS_SPEED,
                    speed ? win::widen(speed_text(*speed)).c_str() : L"");
    std::wstring left;
    if (speed && *speed > 0.0 && total > processed) {
        const double seconds = static_cast<double>(total - processed) / *speed;
        // Beyond a year the figure means nothing; it is not shown.
        if (seconds < 366.0 * 24 * 3600)
            left = win::widen(time_left_text(static_cast<std::uint64_t>(seconds + 0.5)));
    }
    SetDlgItemTextW(window(), IDC_PROGRESS_TIME, left.c_str());
    show_on_taskbar(questions_ > 0 ? TaskbarState::paused : TaskbarState::normal);
}

void ProgressDialog::show_on_taskbar(TaskbarState state) {
    taskbar_progress().show(taskbar_window(window()), state, processed_.load(), total_.load());
}

ProgressDialog::QuestionPause::QuestionPause(ProgressDialog& dialog) : dialog_(dialog) {
    if (dialog_.questions_++ == 0 && dialog_.window())
        dialog_.show_on_taskbar(TaskbarState::paused);
}

ProgressDialog::QuestionPause::~QuestionPause() {
    if (--dialog_.questions_ == 0 && dialog_.window() && !dialog_.ended_)
        dialog_.show_on_taskbar(TaskbarState::normal);
}

LRESULT ProgressDialog::on_system_command(WPARAM wparam, LPARAM, bool& handled) {
    // A close request only asks the worker to stop: nothing but the worker's
    // end may end this dialog. Moving goes on as in any window; minimising
    // minimises the window the taskbar shows, and this one with it.
    switch (LOWORD(wparam) & 0xFFF0) {
        case SC_CLOSE:
            ask_to_cancel();
            return 0;
        case SC_MINIMIZE: {
            const HWND owner = GetWindow(window(), GW_OWNER);
            if (!owner) break;
            ShowWindow(taskbar_window(window()), SW_MINIMIZE);
            return 0;
        }
        default:
            break;
    }
    handled = false;
    return 0;
}

LRESULT ProgressDialog::on_cancel(UINT, UINT, HWND, bool&) {
    ask_to_cancel();
    return 0;
}

void ProgressDialog::ask_to_cancel() {
    // A key pressed by mistake must not throw the work away. Meanwhile the
    // worker goes on, and the dialog may end under the question.
    if (cancel_ || asking_) return;
    asking_ = true;
    const QuestionPause pause(*this);
    const bool stop = show_message(window(), cancel_question, MB_YESNO | MB_ICONQUESTION) == IDYES;
    asking_ = false;
    if (stop) cancel_ = true;
}

bool ProgressDialog::make_job(const JobRequest& request) {
    try {
        const InputList& list = request.inputs;
        std::vector<std::string> inputs;
        for (std::int32_t i = 0; i < list.count(); ++i) inputs.emplace_back(list.at(i));
        job_.emplace(std::move(inputs), request.output_path, request.password,
                     request.compression_level, processed_, total_, cancel_);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void ProgressDialog::finish() {
    DWORD code = 0;
    outcome_ = GetExitCodeThread(thread_.get(), &code) ? static_cast<ResultCode>(code)
                                                       : worker_result_.load();
    thread_.reset();
    ended_ = true;
}

void ProgressDialog::join() {
    cancel_ = true;
    WaitForSingleObject(thread_.get(), INFINITE);
    finish();
}

}  // namespace korvane
