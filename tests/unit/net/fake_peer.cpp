#include "fake_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace {

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int BoundSocket() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket");
    sockaddr_in address = Loopback(0);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        throw std::runtime_error("bind");
    }
    return fd;
}

int LocalPort(int fd) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
}

}  // namespace

TFakeServer::TFakeServer(int backlog) {
    listen_fd_ = BoundSocket();
    if (listen(listen_fd_, backlog) != 0) throw std::runtime_error("listen");
    port_ = LocalPort(listen_fd_);
}

TFakeServer::~TFakeServer() {
    for (int fd : accepted_) close(fd);
    close(listen_fd_);
}

int TFakeServer::Accept(int timeout_ms) {
    pollfd p{listen_fd_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) != 1) return -1;
    int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) accepted_.push_back(fd);
    return fd;
}

void TFakeServer::Close(int fd, bool reset) {
    for (auto it = accepted_.begin(); it != accepted_.end(); ++it) {
        if (*it != fd) continue;
        if (reset) {
            linger abort{1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        }
        close(fd);
        accepted_.erase(it);
        return;
    }
}

int UnusedPort() {
    int fd = BoundSocket();
    int port = LocalPort(fd);
    close(fd);
    return port;
}

void SendBytes(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) throw std::runtime_error("send");
        done += static_cast<std::size_t>(n);
    }
}

std::string ReadBytes(int fd, std::size_t count, int timeout_ms) {
    std::string result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    char chunk[65536];
    while (result.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) != 1) break;
        std::size_t want = std::min(sizeof chunk, count - result.size());
        ssize_t n = recv(fd, chunk, want, 0);
        if (n <= 0) break;
        result.append(chunk, static_cast<std::size_t>(n));
    }
    return result;
}

std::string ReadPending(int fd, int quiet_ms) {
    std::string result;
    char chunk[4096];
    for (int rounds = 0; rounds < 1000; ++rounds) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, quiet_ms) != 1) break;
        ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) break;
        result.append(chunk, static_cast<std::size_t>(n));
    }
    return result;
}
