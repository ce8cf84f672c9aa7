#include "net/tcp_connection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>

#include "base/exception.h"
#include "config/host_config.h"
#include "net/name_lookup.h"
#include "platform/cancel.h"

TTCPConnection::TTCPConnection(const THostConfig* host, int screen) : TConnection(host, screen) {
    Socket = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (Socket < 0) ThrowError("TConnection::TConnection: Error on socket(). Error: %d", errno);
    try {
        Open();
    } catch (...) {
        // The destructor does not run for a failed constructor.
        close(Socket);
        Socket = -1;
        throw;
    }
    SetState(kStateOpen);
}

TTCPConnection::~TTCPConnection() {
    if (Socket >= 0) close(Socket);
}

void TTCPConnection::Open() {
    const std::string& text = Host->GetAddress();
    if (text.size() > kMaxAddressLength)
        ThrowError("TConnection::TConnection: Bad address: %s. Unable to lookup over DNS.",
                   text.c_str());

    sockaddr_in address{};
    address.sin_family = AF_INET;
    const int port = Host->GetPort();
    // A port the configuration could not have meant: never wrap it round to
    // some other port.
    if (port < 0 || port > 65535)
        ThrowError("TConnection::TConnection: Error on connect(). Error: %d", EINVAL);
    address.sin_port = htons(static_cast<std::uint16_t>(port));

    // Dotted form first, as typed; the all-ones result doubles as "not
    // dotted", so 255.255.255.255 goes to the name lookup.
    const in_addr_t dotted = inet_addr(text.c_str());
    if (dotted != INADDR_NONE) {
        address.sin_addr.s_addr = dotted;
    } else if (!LookupIPv4(text, &address.sin_addr)) {
        ThrowError("TConnection::TConnection: Bad address: %s. Unable to lookup over DNS.",
                   text.c_str());
    }

    if (connect(Socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return;
    int error = errno;
    if (error == EINPROGRESS || error == EINTR) {
        // Both leave the connection going on in the background.
        WaitFd(Socket, POLLOUT, -1);
        socklen_t size = sizeof error;
        if (getsockopt(Socket, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
    }
    if (error != 0) ThrowError("TConnection::TConnection: Error on connect(). Error: %d", error);
}

bool TTCPConnection::WaitForData(unsigned timeout) {
    const unsigned ms = timeout / 1000 + (timeout % 1000 != 0 ? 1 : 0);
    return WaitFd(Socket, POLLIN, static_cast<int>(ms)) != 0;
}

int TTCPConnection::GetBuffer(char* buffer, unsigned length, bool) {
    return InternalGetBuffer(buffer, length);
}

void TTCPConnection::PutBuffer(const char* buffer, unsigned length, bool) {
    InternalPutBuffer(buffer, length);
}

long TTCPConnection::ReceiveSome(char* buffer, std::size_t length) {
    for (;;) {
        WaitFd(Socket, POLLIN, -1);
        const ssize_t count = recv(Socket, buffer, length, MSG_DONTWAIT);
        if (count >= 0) return static_cast<long>(count);
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
    }
}

int TTCPConnection::SendAll(const char* buffer, std::size_t length) {
    TLockGuard guard(WriteLock);
    while (length > 0) {
        const ssize_t count = send(Socket, buffer, length, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (count > 0) {
            buffer += count;
            length -= static_cast<std::size_t>(count);
        } else if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            WaitFd(Socket, POLLOUT, -1);
        } else if (count < 0 && errno != EINTR) {
            return errno;
        } else if (count == 0) {
            return EIO;  // nothing taken from a non-empty request: no progress possible
        }
    }
    return 0;
}

int TTCPConnection::InternalGetBuffer(char* buffer, unsigned length) {
    if (length == 0) return 0;
    const long count = ReceiveSome(buffer, std::min(length, kMaxReadLength));
    if (count < 0) ThrowError("TConnection::InternalGetBuffer(): Error: %d.", errno);
    if (count == 0) SetState(kStateClosed);
    return static_cast<int>(count);
}

void TTCPConnection::InternalPutBuffer(const char* buffer, unsigned length) {
    if (length == 0) return;
    const int error = SendAll(buffer, length);
    if (error != 0) ThrowError("TConnection::InternalPutBuffer(): Error: %d.", error);
}
