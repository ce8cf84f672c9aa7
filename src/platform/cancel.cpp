#include "platform/cancel.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace {
thread_local TCancellation* current_cancellation = nullptr;
}

TCancellation::TCancellation() {
    if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) pipe_[0] = pipe_[1] = -1;
}

TCancellation::~TCancellation() {
    if (pipe_[0] >= 0) close(pipe_[0]);
    if (pipe_[1] >= 0) close(pipe_[1]);
}

void TCancellation::Cancel() {
    if (cancelled_.exchange(true, std::memory_order_acq_rel)) return;
    if (pipe_[1] >= 0) {
        char byte = 1;
        (void)!write(pipe_[1], &byte, 1);
    }
    std::lock_guard<std::mutex> guard(attach_lock_);
    if (waiting_cv_ != nullptr) {
        // Taking the waiter's mutex orders this notify after the waiter has
        // checked the flag and gone to sleep, so the wake-up cannot be lost.
        std::lock_guard<std::mutex> waiter(*waiting_mutex_);
        waiting_cv_->notify_all();
    }
}

void TCancellation::Attach(std::condition_variable_any* cv, std::mutex* mutex) {
    std::lock_guard<std::mutex> guard(attach_lock_);
    waiting_cv_ = cv;
    waiting_mutex_ = mutex;
}

void TCancellation::Detach() {
    std::lock_guard<std::mutex> guard(attach_lock_);
    waiting_cv_ = nullptr;
    waiting_mutex_ = nullptr;
}

TCancellation* CurrentCancellation() {
    return current_cancellation;
}

void SetCurrentCancellation(TCancellation* cancellation) {
    current_cancellation = cancellation;
}

void CheckCancelled() {
    if (current_cancellation != nullptr) current_cancellation->ThrowIfCancelled();
}

void Sleep(int ms) {
    TCancellation* cancel = current_cancellation;
    if (cancel == nullptr) {
        usleep(static_cast<useconds_t>(ms) * 1000);
        return;
    }
    std::mutex mutex;
    std::condition_variable_any cv;
    cancel->Attach(&cv, &mutex);
    {
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return cancel->IsCancelled(); });
    }
    cancel->Detach();
    cancel->ThrowIfCancelled();
}

short WaitFd(int fd, short events, int timeout_ms) {
    TCancellation* cancel = current_cancellation;
    pollfd fds[2] = {{fd, events, 0}, {cancel ? cancel->Fd() : -1, POLLIN, 0}};
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        CheckCancelled();
        int wait = timeout_ms;
        if (timeout_ms >= 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            wait = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
        int n = poll(fds, 2, wait);
        if (n < 0) {
            if (errno == EINTR) continue;
            return POLLERR;
        }
        CheckCancelled();
        if (n == 0) return 0;
        if (fds[0].revents != 0) return fds[0].revents;
    }
}
