#include "platform/thread.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "bounded_wait.h"
#include "platform/fair_mutex.h"

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
    ExpectCancelUnwinds([&] { never.Wait(); }, 0);
}

// A thread that unlocks and locks again at once goes behind the threads
// already waiting, in the order they came; recursion does not queue.
TEST(FairRecursiveMutex, WaitingThreadsGoFirstInTheirOrder) {
    TFairRecursiveMutex lock;
    std::string order;  // under `lock`
    lock.lock();
    lock.lock();
    std::thread waiters[2];
    for (char name : {'a', 'b'}) {
        waiters[name - 'a'] = std::thread([&, name] {
            lock.lock();
            order += name;
            lock.unlock();
        });
        ASSERT_TRUE(WaitUntil([&] { return lock.Waiting() == unsigned(name - 'a' + 1); }));
    }
    lock.unlock();
    EXPECT_EQ(lock.Waiting(), 2u);  // still held once
    lock.unlock();
    lock.lock();
    order += 'm';
    lock.unlock();
    for (std::thread& t : waiters) t.join();
    EXPECT_EQ(order, "abm");
    EXPECT_EQ(lock.Waiting(), 0u);
}
