#include "archive/task_pool.h"

#include <system_error>
#include <utility>

namespace korvane {

unsigned worker_count(int requested) {
    if (requested > 0) return static_cast<unsigned>(requested);
    const unsigned processors = std::thread::hardware_concurrency();
    return processors == 0 ? 1 : processors;
}

TaskPool::TaskPool(unsigned threads, std::size_t window, Run run)
    : run_(std::move(run)), done_(window == 0 ? 1 : window, 0) {
    // The owner's thread is one of them.
    for (unsigned i = 1; i < threads; ++i) {
        try {
            threads_.emplace_back([this, i] { thread_loop(i); });
        } catch (const std::system_error&) {
            break;  // fewer threads do the same work, only slower
        }
    }
}

TaskPool::~TaskPool() {
    stop();
    for (std::thread& t : threads_) t.join();
}

void TaskPool::publish(std::size_t count) {
    std::lock_guard lock(mutex_);
    for (; published_ < count; ++published_) done_[published_ % done_.size()] = 0;
    changed_.notify_all();
}

bool TaskPool::take(std::size_t& task) {
    if (stopping_ || next_ >= published_) return false;
    task = next_++;
    return true;
}

void TaskPool::run_unlocked(std::unique_lock<std::mutex>& lock, std::size_t task, unsigned slot) {
    ++running_;
    lock.unlock();
    run_(task, slot);
    lock.lock();
    --running_;
    done_[task % done_.size()] = 1;
    changed_.notify_all();
}

void TaskPool::wait_for(std::size_t i) {
    std::unique_lock lock(mutex_);
    while (!(i < next_ && done_[i % done_.size()])) {
        std::size_t task;
        if (take(task)) {
            run_unlocked(lock, task, 0);
        } else {
            changed_.wait(lock);
        }
    }
}

void TaskPool::stop() {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return running_ == 0; });
}

void TaskPool::thread_loop(unsigned slot) {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        std::size_t task;
        if (take(task)) {
            run_unlocked(lock, task, slot);
        } else {
            changed_.wait(lock);
        }
    }
}

}  // namespace korvane
