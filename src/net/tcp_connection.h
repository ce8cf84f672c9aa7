// A connection over one TCP socket; the base of the telnet and SSH classes.
#pragma once

#include <cstddef>

#include "net/connection.h"
#include "platform/sync.h"

// Longest host address accepted; longer texts are refused as bad addresses.
constexpr std::size_t kMaxAddressLength = 1023;
// One read takes at most this many bytes, whatever the caller's buffer.
constexpr unsigned kMaxReadLength = 16000;

// The constructor connects to the host definition's address and port and
// leaves the state open; every failure raises TException, so no half-open
// object exists. The socket is non-blocking underneath: every wait (connect,
// read, a full send buffer) goes through the calling thread's cancellation,
// so ending a session thread never waits for the network.
//
// Writes are serialised by an internal lock, so protocol answers sent from
// the reading thread and user data sent from the input thread never
// interleave inside one write. Reads need no lock: only the session thread
// reads. The destructor closes the socket; no other thread may still use the
// connection then.
class TTCPConnection : public TConnection {
  public:
    TTCPConnection(const THostConfig* host, int screen);
    ~TTCPConnection() override;

    bool WaitForData(unsigned timeout) override;
    int GetBuffer(char* buffer, unsigned length, bool raw) override;
    void PutBuffer(const char* buffer, unsigned length, bool raw) override;

    // The plain socket read and write, below any protocol layer.
    // One read of at most kMaxReadLength bytes; 0 means the remote side has
    // closed (the state becomes kStateClosed). A length of 0 reads nothing
    // and returns 0 without touching the state.
    int InternalGetBuffer(char* buffer, unsigned length);
    // Sends every byte, however many calls the kernel needs to take them.
    void InternalPutBuffer(const char* buffer, unsigned length);

  protected:
    // Primitives for protocol layers that report socket errors in words of
    // their own. `length` must be at least 1.
    // One receive after waiting for data: > 0 bytes, 0 when the remote side
    // has closed, -1 on an error with errno set. The state is not touched.
    long ReceiveSome(char* buffer, std::size_t length);
    // Sends all bytes under the write lock; 0, or the errno value of the
    // failure.
    int SendAll(const char* buffer, std::size_t length);

    int Socket = -1;

  private:
    void Open();

    TCriticalSection WriteLock;
};
