#include "platform/sync.h"

#include <chrono>

#include "platform/cancel.h"

void TCriticalSection::Enter() {
    const auto self = std::this_thread::get_id();
    TCancellation* cancel = CurrentCancellation();
    if (cancel != nullptr) cancel->Attach(&cv_, &mutex_);
    bool entered = false;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [&] {
            return depth_ == 0 || owner_ == self || (cancel != nullptr && cancel->IsCancelled());
        });
        if (cancel == nullptr || !cancel->IsCancelled()) {
            owner_ = self;
            ++depth_;
            entered = true;
        }
    }
    if (cancel != nullptr) {
        cancel->Detach();
        if (!entered) throw TThreadCancelled();
    }
}

void TCriticalSection::Leave() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (depth_ > 0 && --depth_ == 0) {
        owner_ = std::thread::id();
        cv_.notify_all();
    }
}

bool TCriticalSection::TryEnter() {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto self = std::this_thread::get_id();
    if (depth_ != 0 && owner_ != self) return false;
    owner_ = self;
    ++depth_;
    return true;
}

void TEvent::Set() {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = true;
    if (manual_reset_)
        cv_.notify_all();
    else
        cv_.notify_one();
}

void TEvent::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = false;
}

bool TEvent::IsSet() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return signalled_;
}

bool TEvent::WaitFor(int timeout_ms) {
    TCancellation* cancel = CurrentCancellation();
    if (cancel != nullptr) cancel->Attach(&cv_, &mutex_);
    bool got;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        auto ready = [&] { return signalled_ || (cancel != nullptr && cancel->IsCancelled()); };
        if (timeout_ms < 0) {
            cv_.wait(lock, ready);
            got = true;
        } else {
            got = cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready);
        }
        if (cancel != nullptr && cancel->IsCancelled()) {
            got = false;
        } else if (got && !manual_reset_) {
            signalled_ = false;
        }
    }
    if (cancel != nullptr) {
        cancel->Detach();
        cancel->ThrowIfCancelled();
    }
    return got;
}
