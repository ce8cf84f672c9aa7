// A thread that can be waited on, cancelled cooperatively, and that tells the
// main loop when it has ended.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "platform/cancel.h"
#include "platform/sync.h"

class TThread {
  public:
    TThread() = default;
    // Joins a thread still running: cancel it first (or let it end).
    ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Runs `body` on a new thread with this thread's cancellation installed.
    // TThreadCancelled leaving `body` ends the thread quietly. When `body`
    // returns, the thread is marked finished and the thread-end fd is woken.
    void Start(std::function<void()> body);
    bool Started() const { return thread_.joinable(); }
    // Requests the end; the thread unwinds at its next wait. Never blocks.
    void Cancel() { cancellation_.Cancel(); }
    bool Finished() const { return finished_.IsSet(); }
    // Waits for the end (cancellation-aware for the calling thread), then
    // releases the thread. Not from the thread itself.
    void Join();
    TCancellation& Cancellation() { return cancellation_; }

  private:
    std::thread thread_;
    TCancellation cancellation_;
    TEvent finished_{true, false};
};

// Read end of a process-wide pipe that gets one byte each time a TThread
// ends: the main loop polls it beside terminal input, then checks which
// threads have Finished().
int ThreadEndFd();
// Empties the pipe after a wake-up.
void DrainThreadEnds();
