#include "platform/thread.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>

#include "platform/sync.h"

namespace {

// Bounded wait for a thread end; a broken cancellation fails here instead of
// hanging the suite.
bool EndsWithin(TThread& thread, int ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!thread.Finished()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        usleep(1000);
    }
    return true;
}

struct Pipe {
    int fds[2];
    Pipe() { EXPECT_EQ(pipe(fds), 0); }
    ~Pipe() {
        close(fds[0]);
        close(fds[1]);
    }
};

}  // namespace

// Every place a session thread can block must let a cancel through, and the
// thread must unwind past its own code (the flag proves the catch below is
// not reached by TException handlers).
TEST(ThreadCancel, WakesEveryBlockingWait) {
    TEvent never(true, false);
    TCriticalSection held;
    held.Enter();  // the main thread keeps it, like the open scroll-back viewer
    Pipe quiet;

    std::function<void()> waits[] = {
        [&] { never.Wait(); },
        [&] { Sleep(600000); },
        [&] { WaitFd(quiet.fds[0], POLLIN, -1); },
        [&] { held.Enter(); },
    };
    for (auto& wait : waits) {
        TThread thread;
        std::atomic<bool> returned_normally{false};
        thread.Start([&] {
            wait();
            returned_normally = true;
        });
        usleep(20000);  // let it block
        EXPECT_FALSE(thread.Finished());
        thread.Cancel();
        ASSERT_TRUE(EndsWithin(thread, 5000));
        thread.Join();
        EXPECT_FALSE(returned_normally);
    }
    held.Leave();
}

TEST(ThreadCancel, EndOfThreadWakesTheMainLoopPipe) {
    DrainThreadEnds();
    TThread thread;
    thread.Start([] {});
    pollfd fd{ThreadEndFd(), POLLIN, 0};
    ASSERT_EQ(poll(&fd, 1, 5000), 1);
    thread.Join();
    EXPECT_TRUE(thread.Finished());
    DrainThreadEnds();
    EXPECT_EQ(poll(&fd, 1, 0), 0);
}

TEST(ThreadCancel, CancelBeforeTheWaitStillStops) {
    TEvent gate(true, false);
    TEvent never(true, false);
    TThread thread;
    thread.Start([&] {
        gate.Wait();
        never.Wait();
    });
    thread.Cancel();  // may land before the thread reaches either wait
    ASSERT_TRUE(EndsWithin(thread, 5000));
    thread.Join();
}

TEST(Sync, EventsAutoAndManualReset) {
    TEvent manual(true, true);
    EXPECT_TRUE(manual.WaitFor(0));
    EXPECT_TRUE(manual.WaitFor(0));  // stays signalled
    manual.Reset();
    EXPECT_FALSE(manual.WaitFor(0));  // a poll: returns at once, never waits for ever
    EXPECT_FALSE(manual.WaitFor(10));

    TEvent automatic(false, false);
    std::atomic<int> passed{0};
    TThread a, b;
    a.Start([&] {
        if (automatic.WaitFor(500)) ++passed;
    });
    b.Start([&] {
        if (automatic.WaitFor(500)) ++passed;
    });
    usleep(20000);
    automatic.Set();  // lets exactly one of the two through
    a.Join();
    b.Join();
    EXPECT_EQ(passed, 1);
}

TEST(Sync, WaitFdReportsDataAndTimeOut) {
    Pipe p;
    EXPECT_EQ(WaitFd(p.fds[0], POLLIN, 10), 0);
    ASSERT_EQ(write(p.fds[1], "x", 1), 1);
    EXPECT_TRUE(WaitFd(p.fds[0], POLLIN, 1000) & POLLIN);
}

TEST(Sync, CriticalSectionIsRecursive) {
    TCriticalSection section;
    section.Enter();
    section.Enter();
    section.Leave();
    TThread other;
    std::atomic<bool> got{false};
    other.Start([&] { got = section.TryEnter(); });
    other.Join();
    EXPECT_FALSE(got);  // still held once
    section.Leave();
}
