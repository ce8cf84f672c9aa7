// The thread wrapper every session derives from: Start runs the virtual Run
// on a thread of its own.
#pragma once

#include "platform/thread.h"

// Ending a thread is cooperative (a thread cannot be killed safely):
// Terminate fires the thread's cancellation, and the thread unwinds at its
// next wait without showing anything. Called by the thread on itself it
// unwinds at once.
class TSimpleThread {
  public:
    TSimpleThread() = default;
    // Cancels a thread still running and waits for it to unwind.
    virtual ~TSimpleThread();
    TSimpleThread(const TSimpleThread&) = delete;
    TSimpleThread& operator=(const TSimpleThread&) = delete;

    // The thread body; its result is not used.
    virtual int Run() { return -1; }

    // Starts the thread (once). The main loop polls ThreadEndFd and then
    // asks Finished.
    void Start();
    // Waits for the thread to end. On a thread that is itself cancelled the
    // wait unwinds at once.
    void WaitFor();
    // From another thread: requests the end and returns at once. On the
    // thread itself: raises TThreadCancelled, which ends it quietly.
    void Terminate();
    // The thread was started and has ended (its Run returned or unwound).
    bool Finished() const { return Thread.Finished(); }
    bool Started() const { return Thread.Started(); }
    // True on the thread that runs this object's Run.
    bool IsOwnThread();

  protected:
    // Cancels the thread and waits for it. Every class whose members the
    // thread uses calls this first in its destructor, before those members
    // go away.
    void StopThread();

    TThread Thread;
};
