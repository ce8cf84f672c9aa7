#include "platform/fair_mutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace {

// Waits (bounded) until `n` threads wait for the lock.
bool WaitForWaiters(TFairRecursiveMutex& lock, unsigned n) {
    for (int i = 0; i < 10000; ++i) {
        if (lock.Waiting() == n) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

}  // namespace

// A thread that unlocks and locks again at once goes behind the threads
// already waiting, in the order they came; recursion does not queue.
TEST(FairRecursiveMutex, WaitingThreadsGoFirstInTheirOrder) {
    TFairRecursiveMutex lock;
    std::string order;  // under `lock`
    lock.lock();
    lock.lock();  // recursive: no ticket, no wait
    std::thread first([&] {
        lock.lock();
        order += 'a';
        lock.unlock();
    });
    ASSERT_TRUE(WaitForWaiters(lock, 1));
    std::thread second([&] {
        lock.lock();
        order += 'b';
        lock.unlock();
    });
    ASSERT_TRUE(WaitForWaiters(lock, 2));
    lock.unlock();
    EXPECT_EQ(lock.Waiting(), 2u);  // still held once
    lock.unlock();
    lock.lock();
    order += 'm';
    lock.unlock();
    first.join();
    second.join();
    EXPECT_EQ(order, "abm");
    EXPECT_EQ(lock.Waiting(), 0u);
}

// Many threads hammering the lock keep it exclusive.
TEST(FairRecursiveMutex, Exclusive) {
    TFairRecursiveMutex lock;
    long counter = 0;  // under `lock`
    std::atomic<int> inside{0};
    bool overlapped = false;
    std::thread threads[4];
    for (std::thread& t : threads) {
        t = std::thread([&] {
            for (int i = 0; i < 20000; ++i) {
                lock.lock();
                if (inside.fetch_add(1) != 0) overlapped = true;
                ++counter;
                inside.fetch_sub(1);
                lock.unlock();
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_FALSE(overlapped);
    EXPECT_EQ(counter, 4 * 20000);
}
