// Cooperative termination of session threads.
//
// A session thread cannot be killed safely, so ending one is a request: the
// thread's TCancellation is fired, and every place the thread can block (event
// and lock waits, sleeps, socket waits through WaitFd) notices it and raises
// TThreadCancelled. That unwinds the thread's stack, releasing what it holds,
// without passing through the handlers for TException, so no error report is
// shown. TThread catches it at the top of the thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>

// Deliberately not derived from TException or std::exception.
struct TThreadCancelled {};

class TCancellation {
  public:
    TCancellation();
    ~TCancellation();
    TCancellation(const TCancellation&) = delete;
    TCancellation& operator=(const TCancellation&) = delete;

    // Any thread, any number of times. Wakes the owning thread wherever it waits.
    void Cancel();
    bool IsCancelled() const { return cancelled_.load(std::memory_order_acquire); }
    void ThrowIfCancelled() const {
        if (IsCancelled()) throw TThreadCancelled();
    }
    // Readable once cancelled: add it to a poll() set to be woken.
    int Fd() const { return pipe_[0]; }

    // A waiter registers the condition variable it sleeps on (and its mutex)
    // so that Cancel can notify it. Register before taking `mutex`, and
    // unregister after releasing it: Cancel takes the two locks in the order
    // registration lock, then `mutex`.
    void Attach(std::condition_variable_any* cv, std::mutex* mutex);
    void Detach();

  private:
    std::atomic<bool> cancelled_{false};
    int pipe_[2] = {-1, -1};
    std::mutex attach_lock_;
    std::condition_variable_any* waiting_cv_ = nullptr;
    std::mutex* waiting_mutex_ = nullptr;
};

// The cancellation of the calling thread, or nullptr on threads that cannot
// be cancelled (the main thread).
TCancellation* CurrentCancellation();
void SetCurrentCancellation(TCancellation* cancellation);
// Raises TThreadCancelled when the calling thread has been cancelled.
void CheckCancelled();

// Sleeps `ms` milliseconds; a cancelled thread wakes at once and raises.
void Sleep(int ms);

// Waits until `fd` reports one of `events` (poll flags) or `timeout_ms`
// passes (negative: no limit). Returns the reported events, 0 on time-out.
// A cancelled thread raises TThreadCancelled instead.
short WaitFd(int fd, short events, int timeout_ms);
