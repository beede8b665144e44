// Runs one encryption or decryption on a worker thread behind the modal
// "Processing" dialog (template 204) and returns the worker's result code.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "app/input_list.h"
#include "archive/result_code.h"
#include "engine/crypt_job.h"
#include "ops/progress_text.h"
#include "ops/taskbar_progress.h"
#include "platform/win32/scoped_win.h"
#include "resources/resource_ids.h"
#include "ui/dialog_base.h"

namespace korvane {

// What the lock dialog's Start action hands over. The strings belong to the
// caller and stay untouched until run_job returns.
struct JobRequest {
    const char* password;     // 1 to 63 bytes
    const char* output_path;  // the archive to create, or the folder to extract into
    std::int32_t direction;   // 1 encryption, any other value decryption
    const InputList& inputs;  // what to encrypt, or the one archive to decrypt
    std::int32_t compression_level;
    // Receives, when not null, the file whose name failed the job (result 14).
    std::string* refused_path = nullptr;
    // Receives, when not null, the archive's entry at fault and why.
    ArchiveFault* fault = nullptr;
};

using WorkerEntry = ResultCode (*)(CryptJob& job);
using ThreadBody = unsigned(__stdcall*)(void* argument);
// Starts a thread running body(argument); null when it cannot be created.
using ThreadStarter = HANDLE (*)(ThreadBody body, void* argument);

// The C runtime's thread creation (the workers use its buffered streams).
HANDLE start_worker_thread(ThreadBody body, void* argument);

// The code a job ends with when its worker thread cannot be created or the
// dialog cannot be shown: the platform lacks the memory or handles for it.
inline constexpr ResultCode job_start_failed = result_out_of_memory;

inline constexpr const char* cancel_question = "Do you want to cancel the job?";

// Runs the request with the encryption worker for direction 1, else the
// decryption worker.
// The owner is disabled while the dialog runs.
ResultCode run_job(HWND owner, const JobRequest& request);
// The same with a given worker and thread starter.
ResultCode run_job(HWND owner, const JobRequest& request, WorkerEntry worker,
                   ThreadStarter starter = start_worker_thread);

// Bar position in whole percent: the quotient in floating point times 100,
// truncated, and never past 100 (a worker may overshoot). 0 for a zero total,
// which the timer never shows: the bar then keeps its position.
int progress_percent(std::uint64_t processed, std::uint64_t total);

class ProgressDialog : public DialogBase {
  public:
    static constexpr int idd = IDD_PROGRESS;

    ProgressDialog(WorkerEntry worker, ThreadStarter starter);
    ~ProgressDialog() override;

    bool handle_message(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                        LRESULT& result) override;

    // Runs the dialog modally with the request as its creation parameter.
    ResultCode run(HWND owner, const JobRequest& request);
    // After run: the file whose name failed the job, or empty.
    std::string refused_path() const { return job_ ? job_->refused_path : std::string(); }
    ArchiveFault fault() const { return job_ ? job_->fault : ArchiveFault(); }

    // While one lives, a question waits for the user: the taskbar button
    // shows the job paused, and ticks leave it so.
    class QuestionPause {
      public:
        explicit QuestionPause(ProgressDialog& dialog);
        ~QuestionPause();
        QuestionPause(const QuestionPause&) = delete;
        QuestionPause& operator=(const QuestionPause&) = delete;

      private:
        ProgressDialog& dialog_;
    };

  private:
    static unsigned __stdcall thread_body(void* argument);

    LRESULT on_init_dialog(WPARAM wparam, LPARAM lparam, bool& handled);
    LRESULT on_timer(WPARAM wparam, LPARAM lparam, bool& handled);
    LRESULT on_system_command(WPARAM wparam, LPARAM lparam, bool& handled);
    LRESULT on_cancel(UINT code, UINT id, HWND control, bool& handled);
    // Cancel, Escape and the close request ask first; Yes sets the flag.
    void ask_to_cancel();

    // The job for the request; false without the memory for it.
    bool make_job(const JobRequest& request);
    // The texts, the bar and the taskbar button from the counters.
    void show_progress();
    void show_on_taskbar(TaskbarState state);
    // Takes the ended worker's code and lets go of the thread.
    void finish();
    // Asks the worker to stop, waits for it however long it takes, and
    // takes its code.
    void join();

    WorkerEntry worker_;
    ThreadStarter starter_;
    win::ScopedHandle thread_;
    std::atomic<bool> cancel_{false};
    std::atomic<std::uint64_t> processed_{0};
    std::atomic<std::uint64_t> total_{0};
    std::optional<CryptJob> job_;
    // Also kept by the thread body itself, for when the exit code cannot be read.
    std::atomic<ResultCode> worker_result_{result_ok};
    bool ended_ = false;
    bool asking_ = false;
    ResultCode outcome_ = job_start_failed;
    TransferRate rate_;
    ULONGLONG started_ms_ = 0;
    std::string shown_file_;
    int questions_ = 0;  // questions waiting: the job shows paused
};

}  // namespace korvane
