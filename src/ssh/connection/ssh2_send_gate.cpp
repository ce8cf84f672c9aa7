#include "ssh/connection/ssh2_send_gate.h"

#include <algorithm>

#include "platform/cancel.h"

void Ssh2SendGate::SetWindow(uint32_t window) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        window_ = window;
    }
    cv_.notify_all();
}

void Ssh2SendGate::Open(uint32_t bytes) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        window_ += std::min(bytes, UINT32_MAX - window_);
    }
    cv_.notify_all();
}

uint32_t Ssh2SendGate::Take(uint32_t want) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (kex_ || closed_) return 0;
    const uint32_t n = std::min(want, window_);
    window_ -= n;
    return n;
}

void Ssh2SendGate::Wait() {
    TCancellation* cancel = CurrentCancellation();
    if (cancel != nullptr) cancel->Attach(&cv_, &mutex_);
    {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [&] {
            return closed_ || (!kex_ && window_ > 0) ||
                   (cancel != nullptr && cancel->IsCancelled());
        });
    }
    if (cancel != nullptr) {
        cancel->Detach();
        cancel->ThrowIfCancelled();
    }
}

void Ssh2SendGate::BeginKex() {
    std::lock_guard<std::mutex> lock(mutex_);
    kex_ = true;
}

void Ssh2SendGate::EndKex() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        kex_ = false;
    }
    cv_.notify_all();
}

bool Ssh2SendGate::KexActive() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return kex_;
}

void Ssh2SendGate::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    cv_.notify_all();
}

bool Ssh2SendGate::Closed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
}

uint32_t Ssh2SendGate::Window() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return window_;
}
