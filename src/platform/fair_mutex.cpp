#include "platform/fair_mutex.h"

void TFairRecursiveMutex::lock() {
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock guard(mutex_);
    if (depth_ > 0 && owner_ == self) {
        ++depth_;
        return;
    }
    const std::uint64_t ticket = next_++;
    turn_.wait(guard, [&] { return serving_ == ticket; });
    owner_ = self;
    depth_ = 1;
}

void TFairRecursiveMutex::unlock() {
    {
        std::lock_guard guard(mutex_);
        if (--depth_ > 0) return;
        owner_ = std::thread::id();
        ++serving_;
    }
    turn_.notify_all();
}

unsigned TFairRecursiveMutex::Waiting() {
    std::lock_guard guard(mutex_);
    return static_cast<unsigned>(next_ - serving_) - (depth_ > 0 ? 1 : 0);
}
