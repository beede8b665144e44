#include "engine/crypt_job.h"

#include <new>
#include <utility>

#include "archive/cipher/aes_enc.h"

namespace korvane {

void CurrentItem::set(const std::string& name) {
    const std::lock_guard<std::mutex> hold(mutex_);
    // Without the memory for the name the previous one stays shown.
    try {
        name_ = name;
    } catch (const std::bad_alloc&) {
    }
}

std::string CurrentItem::get() const {
    const std::lock_guard<std::mutex> hold(mutex_);
    return name_;
}

CryptJob::CryptJob(std::vector<std::string> inputs_, std::string output_path_,
                   std::string password_, int level_, std::atomic<std::uint64_t>& processed_,
                   std::atomic<std::uint64_t>& total_, std::atomic<bool>& cancel_)
    : inputs(std::move(inputs_)),
      output_path(std::move(output_path_)),
      password(std::move(password_)),
      level(level_),
      strength(key_strength(password.size())),
      processed(processed_),
      total(total_),
      cancel(cancel_) {}

}  // namespace korvane
