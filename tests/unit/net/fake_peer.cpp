#include "fake_peer.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace {

int BoundSocket(int& port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        throw std::runtime_error("no socket on 127.0.0.1");
    port = ntohs(address.sin_port);
    return fd;
}

// Reads until `count` bytes, the end, or a wait longer than `wait_ms` that
// is either the time left (`whole`) or the quiet time allowed.
std::string Read(int fd, std::size_t count, int wait_ms, bool whole) {
    std::string result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    char chunk[65536];
    while (result.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if ((whole && left.count() <= 0) ||
            poll(&p, 1, whole ? static_cast<int>(left.count()) : wait_ms) != 1)
            break;
        const ssize_t n = recv(fd, chunk, std::min(sizeof chunk, count - result.size()), 0);
        if (n <= 0) break;
        result.append(chunk, static_cast<std::size_t>(n));
    }
    return result;
}

}  // namespace

TFakeServer::TFakeServer(int backlog) {
    listen_fd_ = BoundSocket(port_);
    if (listen(listen_fd_, backlog) != 0) throw std::runtime_error("listen");
}

TFakeServer::~TFakeServer() {
    for (int fd : accepted_) close(fd);
    close(listen_fd_);
}

int TFakeServer::Accept(int timeout_ms) {
    pollfd p{listen_fd_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) != 1) return -1;
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) accepted_.push_back(fd);
    return fd;
}

void TFakeServer::Close(int fd, bool reset) {
    const auto it = std::find(accepted_.begin(), accepted_.end(), fd);
    if (it == accepted_.end()) return;
    const linger abort{1, 0};
    if (reset) setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    close(fd);
    accepted_.erase(it);
}

int UnusedPort() {
    int port = 0;
    close(BoundSocket(port));
    return port;
}

int ConnectTo(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return fd;
    if (fd >= 0) close(fd);
    return -1;
}

void SendBytes(int fd, const std::string& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) throw std::runtime_error("send");
        done += static_cast<std::size_t>(n);
    }
}

std::string ReadBytes(int fd, std::size_t count, int timeout_ms) {
    return Read(fd, count, timeout_ms, true);
}

std::string ReadPending(int fd, int quiet_ms) {
    return Read(fd, std::string::npos, quiet_ms, false);
}
