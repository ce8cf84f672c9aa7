// An SSH-2 server played in a test thread over a socket pair: the client end
// is a PacketContext the code under test uses (from as many threads as it
// likes), the server end a script with its own packet layer, able to run a
// whole group-1 exchange with a DSA host key, first or repeated, started by
// either side. Every wait is bounded.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "ssh/keys/key.h"
#include "ssh/transport/packet.h"

struct FakeSsh2End {
    PacketContext context{};
    int fd = -1;
};

// Gives `end` the socket `fd` and bounded hooks on it, in SSH-2 framing.
void FakeSsh2Attach(FakeSsh2End* end, int fd);

class FakeSsh2Server {
  public:
    using Messages = std::vector<std::pair<int, std::string>>;
    FakeSsh2Server();
    ~FakeSsh2Server();
    FakeSsh2Server(const FakeSsh2Server&) = delete;
    FakeSsh2Server& operator=(const FakeSsh2Server&) = delete;

    PacketContext* Client() { return &client_.context; }
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

  private:
    FakeSsh2End client_;
    FakeSsh2End server_;
    Key* host_key_ = nullptr;
    std::string session_id_;
};

// The big-endian number at `offset` of a payload.
uint32_t WireGetU32(const std::string& bytes, std::size_t offset);
