// An SSH-2 server scripted over a socket pair with its own packet layer: it
// runs group-1 exchanges with a DSA host key, started by either side, while
// the code under test uses the client end from as many threads as it likes.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "ssh/keys/key.h"
#include "ssh/transport/packet.h"

class FakeSsh2Server {
  public:
    using Messages = std::vector<std::pair<int, std::string>>;
    FakeSsh2Server();
    ~FakeSsh2Server();

    PacketContext* Client() { return &ends_[0].context; }
    void Send(int type, const std::string& payload = "");
    // The next message (type, payload); type 0 when nothing came in time.
    std::pair<int, std::string> Read();
    // A key exchange with `ciphers` both ways. The server's KEXINIT goes out
    // first; then, unless the client's (`client_kexinit`) has been read
    // already, messages are read up to it, the others appended to `before`.
    void Kex(std::string client_kexinit = "", const char* ciphers = "3des-cbc",
             Messages* before = nullptr);
    // The exchange hash of the first exchange (the session id).
    const std::string& SessionId() const { return session_id_; }

    struct End {  // the hooks find the socket through the context
        PacketContext context{};
        int fd = -1;
    };

  private:
    End ends_[2];  // the client's, the server's
    Key* host_key_ = nullptr;
    std::string session_id_;
};
