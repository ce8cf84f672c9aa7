// The far side of a connection under test: a listening socket on 127.0.0.1
// at an ephemeral port, and reads and writes with time limits.
#pragma once

#include <string>
#include <vector>

class TFakeServer {
  public:
    explicit TFakeServer(int backlog = 8);
    ~TFakeServer();
    TFakeServer(const TFakeServer&) = delete;
    TFakeServer& operator=(const TFakeServer&) = delete;

    int Port() const { return port_; }
    int ListenFd() const { return listen_fd_; }
    // The next pending connection, closed with the server; -1 on time-out.
    int Accept(int timeout_ms = 5000);
    // Closes an accepted socket now, with `reset` by RST.
    void Close(int fd, bool reset = false);

  private:
    int listen_fd_ = -1;
    int port_ = 0;
    std::vector<int> accepted_;
};

// A port on 127.0.0.1 where nothing listens (bound once, then released).
int UnusedPort();
// A connected socket to `port` on 127.0.0.1, or -1.
int ConnectTo(int port);

void SendBytes(int fd, const std::string& bytes);
// Exactly `count` bytes, or fewer when `timeout_ms` passes first.
std::string ReadBytes(int fd, std::size_t count, int timeout_ms = 5000);
// Whatever arrives until the socket has been quiet for `quiet_ms`.
std::string ReadPending(int fd, int quiet_ms = 100);
