// What decides whether channel data may go out now: the server's window for
// our data (RFC 4254 section 5.2), a key exchange in progress (RFC 4253
// section 7.1: nothing but transport messages between our KEXINIT and our
// NEWKEYS), and the end of the channel.
//
// Threads: the writer takes bytes (under the connection's send lock, so that
// checking and sending are one step against a key exchange starting); the
// reader opens the window and starts and ends exchanges. A writer that gets
// nothing releases the send lock and then waits here, so the reader can
// still send its own messages; the wait ends when sending becomes possible,
// when the channel ends, or when the writer's thread is cancelled.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

class Ssh2SendGate {
  public:
    // The window the server granted when it confirmed the channel.
    void SetWindow(uint32_t window);
    // WINDOW_ADJUST: the window grows by `bytes`, never past 2^32-1.
    void Open(uint32_t bytes);
    // Up to `want` bytes taken off the window; 0 while the window is empty, a
    // key exchange is running or the channel has ended.
    uint32_t Take(uint32_t want);
    // Returns once Take may give bytes or the channel has ended. Must not be
    // called holding the send lock.
    void Wait();

    void BeginKex();
    void EndKex();
    bool KexActive() const;
    // For good: every waiter returns, and Take gives nothing from now on.
    void Close();
    bool Closed() const;
    uint32_t Window() const;

  private:
    mutable std::mutex mutex_;
    std::condition_variable_any cv_;
    uint32_t window_ = 0;
    bool kex_ = false;
    bool closed_ = false;
};
