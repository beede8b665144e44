#include "engine/task_pool.h"

#include <algorithm>
#include <new>
#include <utility>

namespace korvane {

unsigned worker_count(int requested) {
    if (requested > 0) return static_cast<unsigned>(requested);
    const unsigned processors = std::thread::hardware_concurrency();
    return processors == 0 ? 1 : processors;
}

TaskPool::TaskPool(unsigned threads, std::size_t window, Run run, unsigned budget)
    : run_(std::move(run)), done_(window == 0 ? 1 : window), budget_(std::max({threads, budget, 1u})) {
    // The owner's thread is one of them. Whatever stops a thread from
    // starting (no thread left, no memory for its state) leaves fewer doing
    // the same work, only slower; the ones started are joined as usual.
    try {
        threads_.reserve(threads > 0 ? threads - 1 : 0);
        for (unsigned i = 1; i < threads; ++i) threads_.emplace_back([this, i] { thread_loop(i); });
    } catch (...) {
    }
}

TaskPool::~TaskPool() {
    stop();
    for (std::thread& t : threads_) t.join();
}

void TaskPool::publish(std::size_t count) {
    std::lock_guard lock(mutex_);
    for (; published_ < count; ++published_) done_[published_ % done_.size()] = Done{};
    changed_.notify_all();
}

bool TaskPool::take(std::size_t& task) {
    if (stopping_ || next_ >= published_ || running_ + lent_ >= budget_) return false;
    task = next_++;
    return true;
}

void TaskPool::run_unlocked(std::unique_lock<std::mutex>& lock, std::size_t task, unsigned slot) {
    ++running_;
    lock.unlock();
    ResultCode result;
    // An exception must not leave the task running forever in the count.
    try {
        result = run_(task, slot);
    } catch (const std::bad_alloc&) {
        result = result_out_of_memory;
    } catch (...) {
        result = result_internal_error;
    }
    if (result != result_ok) failures_.fail(task);
    lock.lock();
    --running_;
    done_[task % done_.size()] = Done{true, result};
    changed_.notify_all();
}

ResultCode TaskPool::wait_for(std::size_t i) {
    std::unique_lock lock(mutex_);
    Done& slot = done_[i % done_.size()];
    while (!(i < next_ && slot.done)) {
        std::size_t task;
        if (take(task)) {
            run_unlocked(lock, task, 0);
        } else {
            changed_.wait(lock);
        }
    }
    return slot.result;
}

void TaskPool::stop() {
    std::unique_lock lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return running_ == 0; });
}

bool TaskPool::lend() {
    std::lock_guard lock(mutex_);
    if (stopping_ || running_ + lent_ >= budget_ || next_ < published_) return false;
    ++lent_;
    return true;
}

void TaskPool::give_back() {
    std::lock_guard lock(mutex_);
    --lent_;
    changed_.notify_all();
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
