#include "platform/fair_mutex.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "bounded_wait.h"

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
