// A read-only connection that replays a captured byte stream: the host
// definition's address names the file, and the session shows its bytes as
// if they had come from the network.
#pragma once

#include <fstream>

#include "net/connection.h"

// Pause between reads once the file is exhausted. The session keeps polling
// an open replay until the user closes it; this keeps that loop from
// occupying a processor core.
constexpr int kReplayIdleDelayMs = 50;

// The constructor opens the file (state open) or leaves the state created
// when it cannot, without raising. It also creates, or empties, "out.fc" in
// the current directory and keeps it open, unwritten, for the connection's
// life. The state never becomes closed: at the end of the file every read
// returns 0.
//
// Threads: only the session thread reads; PutBuffer raises at once.
class TFileConnection : public TConnection {
  public:
    TFileConnection(const THostConfig* host, int screen);
    ~TFileConnection() override;

    bool WaitForData(unsigned) override { return true; }
    // One byte per call, whatever the length, then a yield of the thread
    // (after the end of the file: a cancellable pause of
    // kReplayIdleDelayMs). Returns 1 or 0.
    int GetBuffer(char* buffer, unsigned length, bool raw) override;
    // Always raises "TFileConnection::PutBuffer. TFileConnection is read only
    // connection.".
    void PutBuffer(const char* buffer, unsigned length, bool raw) override;
    void Login() override {}

  private:
    std::ifstream Input;
    std::ofstream Output;
};
