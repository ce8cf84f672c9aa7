// Bounded waits for what other threads do: a broken wake-up or cancellation
// fails the test instead of hanging the suite.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "platform/thread.h"

inline bool WaitUntil(const std::function<bool()>& done, int timeout_ms = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// `body` on a cancellable thread must still block after `block_ms`, and a
// cancel must unwind it within 2 s, not let it return.
inline void ExpectCancelUnwinds(const std::function<void()>& body, int block_ms = 50) {
    TThread thread;
    std::atomic<bool> returned{false};
    thread.Start([&] {
        body();
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(block_ms));
    ASSERT_FALSE(thread.Finished()) << "the call did not block";
    thread.Cancel();
    ASSERT_TRUE(WaitUntil([&] { return thread.Finished(); }, 2000));
    thread.Join();
    EXPECT_FALSE(returned);
}
