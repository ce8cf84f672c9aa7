#include "app/simple_thread.h"

#include "platform/cancel.h"

TSimpleThread::~TSimpleThread() {
    StopThread();
}

void TSimpleThread::StopThread() {
    if (!Thread.Started()) return;
    Thread.Cancel();
    Thread.Join();
}

void TSimpleThread::Start() {
    Thread.Start([this] { Run(); });
}

void TSimpleThread::WaitFor() {
    if (Thread.Started()) Thread.Join();
}

bool TSimpleThread::IsOwnThread() {
    return CurrentCancellation() == &Thread.Cancellation();
}

void TSimpleThread::Terminate() {
    Thread.Cancel();
    if (IsOwnThread()) throw TThreadCancelled();
}
