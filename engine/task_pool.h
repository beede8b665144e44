// Numbered tasks run on a few threads and handed back in order: the thread
// that owns the pool publishes tasks, waits for them one by one in number
// order, and runs tasks itself while it waits. With one thread no thread is
// started and every task runs in order on the owner's thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "archive/result_code.h"

namespace korvane {

// Worker threads for a job's worker count: 0 means one per processor.
unsigned worker_count(int requested);

// The first task of a job that failed. A job ends at its first failure in
// task order, so every task after it is work nobody will use: such a task
// gives up between two blocks instead of running to its end.
class FailureMark {
  public:
    void fail(std::size_t task) { give_up_from(task + 1); }
    // The job ends without another task: every one gives up.
    void fail_all() { give_up_from(0); }
    // True when the job gave up on this task.
    bool given_up(std::size_t task) const { return task >= from_.load(std::memory_order_relaxed); }

  private:
    void give_up_from(std::size_t task) {
        std::size_t from = from_.load(std::memory_order_relaxed);
        while (task < from && !from_.compare_exchange_weak(from, task, std::memory_order_relaxed)) {
        }
    }
    std::atomic<std::size_t> from_{static_cast<std::size_t>(-1)};
};

// What a task tests between blocks: whether the job gave up on it.
struct GiveUp {
    const FailureMark* failures = nullptr;  // none: never
    std::size_t task = 0;
    bool operator()() const { return failures && failures->given_up(task); }
};

class TaskPool {
  public:
    // run(i, slot) does task i on the thread numbered slot (0 the owner's,
    // below threads), so per-thread scratch can be indexed by it, and gives
    // its code. An exception it throws becomes its code: 13 for bad_alloc,
    // 16 for anything else. A failing task marks the pool's FailureMark. At
    // most `window` tasks are published and not yet waited for.
    using Run = std::function<ResultCode(std::size_t task, unsigned slot)>;
    // Threads that cannot be started leave fewer doing the same work.
    // budget (at least threads) is how many threads the job may keep busy,
    // lent ones included.
    TaskPool(unsigned threads, std::size_t window, Run run, unsigned budget = 0);
    ~TaskPool();  // stops: waits for the running tasks and the threads
    TaskPool(const TaskPool&) = delete;
    TaskPool& operator=(const TaskPool&) = delete;

    // Tasks below count may start; count never exceeds the next task to wait
    // for plus the window.
    void publish(std::size_t count);
    // Returns task i's code once it has run; i is the next one not yet
    // waited for.
    ResultCode wait_for(std::size_t i);
    // No task starts any more; returns when none is running. Nothing may be
    // waited for after it.
    void stop();
    // Shared with the tasks, which test it between blocks.
    FailureMark& failures() { return failures_; }
    // A running task may have one more thread of the job's budget for a
    // helper of its own while the budget has a thread to spare and no
    // published task waits for one; until it is given back the pool runs one
    // task fewer at a time. False when none can be had.
    bool lend();
    void give_back();

  private:
    void thread_loop(unsigned slot);
    // Takes the next published task, if any; called with the lock held.
    bool take(std::size_t& task);
    void run_unlocked(std::unique_lock<std::mutex>& lock, std::size_t task, unsigned slot);

    struct Done {
        bool done = false;
        ResultCode result = result_ok;
    };

    Run run_;
    FailureMark failures_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Done> done_;  // a ring over the window
    std::size_t published_ = 0, next_ = 0, running_ = 0, lent_ = 0, budget_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace korvane
