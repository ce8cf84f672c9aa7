// The transport interface every session talks through.
//
// A session creates one connection for its host, calls Login once, then its
// own thread loops on GetBuffer while the thread that handles keyboard input
// writes with PutBuffer. The session polls GetState after each read and ends
// when the state is no longer kStateOpen.
//
// Threads: GetBuffer is called by the session thread only; PutBuffer may run
// on another thread at the same time. Implementations keep their own writes
// (protocol answers from the reading thread, user data from the input
// thread) from interleaving. The state is readable from any thread.
#pragma once

#include <atomic>
#include <string>

#include "platform/input_record.h"

class THostConfig;

constexpr int kStateCreated = 0;  // not yet open
constexpr int kStateOpen = 1;
constexpr int kStateClosed = 2;  // closed by the remote side

class TConnection {
  public:
    // `host` is the session's host definition (not owned; it must outlive the
    // connection); `screen` is the session's screen index in the console.
    TConnection(const THostConfig* host, int screen) : Host(host), Screen(screen) {}
    virtual ~TConnection() = default;
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    // True when a read would not block within `timeout` microseconds (also
    // when the transport reports an error: the next read raises it).
    virtual bool WaitForData(unsigned timeout) = 0;
    // Blocks until at least one byte has arrived or the remote side closed;
    // returns the bytes stored at `buffer` (at most `length`). `raw` asks
    // protocol layers that have one (SSH) to bypass it.
    virtual int GetBuffer(char* buffer, unsigned length, bool raw);
    // Sends all `length` bytes or raises TException. A length of 0 sends
    // nothing.
    virtual void PutBuffer(const char* buffer, unsigned length, bool raw) = 0;
    // Called once after construction, before the first read.
    virtual void Login() = 0;
    // Tells the remote side the window size (columns in X, rows in Y);
    // false when the transport has no way to.
    virtual bool ReportWindowSize(const COORD* size);
    // The cipher the key exchange chose ("" where there is none). Call it on
    // the thread that logged in, after Login.
    virtual std::string GetCipherName() const { return {}; }

    int GetState() const { return State.load(std::memory_order_acquire); }
    void SetState(int state) { State.store(state, std::memory_order_release); }
    const THostConfig* GetHost() const { return Host; }
    int GetScreen() const { return Screen; }

  protected:
    std::atomic<int> State{kStateCreated};
    const THostConfig* Host;
    int Screen;
};
