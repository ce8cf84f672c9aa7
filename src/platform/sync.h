// Windows-style synchronisation objects for the session code.
//
// Every blocking member is cancellation-aware: on a thread whose
// TCancellation has fired it raises TThreadCancelled instead of waiting on.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

// Recursive lock, like a Windows critical section. Built on a condition
// variable rather than a mutex so that a cancelled thread blocked behind a
// lock held elsewhere (the scroll-back viewer holds the session lock for
// long) can unwind.
class TCriticalSection {
  public:
    void Enter();
    void Leave();
    bool TryEnter();

  private:
    std::mutex mutex_;
    std::condition_variable_any cv_;
    std::thread::id owner_;
    int depth_ = 0;
};

// Scoped Enter/Leave.
class TLockGuard {
  public:
    explicit TLockGuard(TCriticalSection& section) : section_(section) { section_.Enter(); }
    ~TLockGuard() { section_.Leave(); }
    TLockGuard(const TLockGuard&) = delete;
    TLockGuard& operator=(const TLockGuard&) = delete;

  private:
    TCriticalSection& section_;
};

// Like a Windows event: a manual-reset event stays signalled until Reset; an
// auto-reset event lets exactly one waiter through per Set.
class TEvent {
  public:
    TEvent(bool manual_reset, bool initially_signalled)
        : manual_reset_(manual_reset), signalled_(initially_signalled) {}

    void Set();
    void Reset();
    bool IsSet() const;
    void Wait() { WaitFor(-1); }
    // false on time-out; a negative time-out waits without limit.
    bool WaitFor(int timeout_ms);

  private:
    const bool manual_reset_;
    bool signalled_;
    mutable std::mutex mutex_;
    std::condition_variable_any cv_;
};
