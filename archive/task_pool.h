// Numbered tasks run on a few threads and handed back in order: the thread
// that owns the pool publishes tasks, waits for them one by one in number
// order, and runs tasks itself while it waits. With one thread no thread is
// started and every task runs in order on the owner's thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace korvane {

// Worker threads for a job's worker count: 0 means one per processor.
unsigned worker_count(int requested);

class TaskPool {
  public:
    // run(i, slot) does task i on the thread numbered slot (0 the owner's,
    // below threads), so per-thread scratch can be indexed by it; it must
    // not throw. At most `window` tasks are published and not yet waited for.
    using Run = std::function<void(std::size_t task, unsigned slot)>;
    TaskPool(unsigned threads, std::size_t window, Run run);
    ~TaskPool();  // stops: waits for the running tasks and the threads
    TaskPool(const TaskPool&) = delete;
    TaskPool& operator=(const TaskPool&) = delete;

    // Tasks below count may start; count never exceeds the next task to wait
    // for plus the window.
    void publish(std::size_t count);
    // Returns once task i has run; i is the next one not yet waited for.
    void wait_for(std::size_t i);
    // No task starts any more; returns when none is running. Nothing may be
    // waited for after it.
    void stop();

  private:
    void thread_loop(unsigned slot);
    // Takes the next published task, if any; called with the lock held.
    bool take(std::size_t& task);
    void run_unlocked(std::unique_lock<std::mutex>& lock, std::size_t task, unsigned slot);

    Run run_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<char> done_;  // a ring over the window
    std::size_t published_ = 0, next_ = 0, running_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace korvane
