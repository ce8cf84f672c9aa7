// A recursive mutex handed over in the order it was asked for.
//
// The terminal output lock is taken by every session thread for each block of
// host output it draws and by the main thread for each key it handles. With
// an ordinary mutex a thread that unlocks and locks again at once usually
// wins over one that waits, so eleven flooding sessions could keep a key, or
// a switch to another screen, waiting for as long as their hosts print. Here
// a waiting thread gets the lock after at most one turn of each thread that
// asked before it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

class TFairRecursiveMutex {
  public:
    void lock();
    void unlock();
    // Threads waiting for their turn (not counting the holder).
    unsigned Waiting();

  private:
    std::mutex mutex_;
    std::condition_variable turn_;
    std::thread::id owner_;
    unsigned depth_ = 0;
    std::uint64_t next_ = 0;     // the next ticket handed out
    std::uint64_t serving_ = 0;  // the ticket whose turn it is
};
