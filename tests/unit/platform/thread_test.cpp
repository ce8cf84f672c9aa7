#include "platform/thread.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include "bounded_wait.h"

// Every place a session thread can block lets a cancel through, and a cancel
// that lands before the thread reaches its wait stops it too.
TEST(ThreadCancel, WakesEveryBlockingWait) {
    TEvent never(true, false);
    TCriticalSection held;
    held.Enter();  // the main thread keeps it, like the open scroll-back viewer
    int quiet[2];
    ASSERT_EQ(pipe(quiet), 0);
    const std::function<void()> waits[] = {[&] { never.Wait(); }, [] { Sleep(600000); },
                                           [&] { WaitFd(quiet[0], POLLIN, -1); },
                                           [&] { held.Enter(); }};
    for (const auto& wait : waits) ExpectCancelUnwinds(wait);
    held.Leave();
    close(quiet[0]);
    close(quiet[1]);

    TThread early;
    early.Start([&] { never.Wait(); });
    early.Cancel();
    EXPECT_TRUE(EndsWithin(early));
    early.Join();
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

// A manual event stays set; an automatic one lets exactly one waiter through;
// a critical section is recursive; WaitFd tells data from a time-out.
TEST(Sync, EventsSectionsAndDescriptors) {
    TEvent manual(true, true);
    EXPECT_TRUE(manual.WaitFor(0));
    EXPECT_TRUE(manual.WaitFor(0));
    manual.Reset();
    EXPECT_FALSE(manual.WaitFor(0));
    EXPECT_FALSE(manual.WaitFor(10));

    TEvent automatic(false, false);
    std::atomic<int> passed{0};
    TThread a, b;
    for (TThread* t : {&a, &b}) t->Start([&] { passed += automatic.WaitFor(500) ? 1 : 0; });
    automatic.Set();
    a.Join();
    b.Join();
    EXPECT_EQ(passed, 1);

    TCriticalSection section;
    section.Enter();
    section.Enter();
    section.Leave();
    std::atomic<bool> got{false};
    TThread other;
    other.Start([&] { got = section.TryEnter(); });
    other.Join();
    EXPECT_FALSE(got);
    section.Leave();

    int p[2];
    ASSERT_EQ(pipe(p), 0);
    EXPECT_EQ(WaitFd(p[0], POLLIN, 10), 0);
    ASSERT_EQ(write(p[1], "x", 1), 1);
    EXPECT_TRUE(WaitFd(p[0], POLLIN, 1000) & POLLIN);
    close(p[0]);
    close(p[1]);
}
