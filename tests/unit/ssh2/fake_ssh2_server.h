// An SSH-2 server played in a test thread over a socket pair: the client end
// is a PacketContext the code under test reads and writes (from as many
// threads as it likes), the server end a script with its own packet layer,
// able to run a complete group-1 key exchange with a DSA host key, first or
// repeated, started by either side. Every wait is bounded.
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

class FakeSsh2Server {
  public:
    FakeSsh2Server();
    ~FakeSsh2Server();
    FakeSsh2Server(const FakeSsh2Server&) = delete;
    FakeSsh2Server& operator=(const FakeSsh2Server&) = delete;

    PacketContext* Client() { return &client_.context; }
    PacketContext* Server() { return &server_.context; }

    // Server side.
    void Send(int type, const std::string& payload = "");
    // The next message (type, payload); type 0 when nothing came in time.
    std::pair<int, std::string> Read();
    // Runs a key exchange: sends the server's KEXINIT first when
    // `server_first`, otherwise waits for the client's. Messages that come
    // before the client's KEXINIT are appended to `before`. `ciphers` is
    // the server's cipher list for both directions.
    void Kex(bool server_first, std::vector<std::pair<int, std::string>>* before = nullptr,
             const char* ciphers = "3des-cbc");
    // The same when the client's KEXINIT (payload) has just been read here.
    void KexAfterClientKexinit(const std::string& client_payload, const char* ciphers = "3des-cbc");
    // The exchange hash of the server's first exchange (its session id).
    const std::string& SessionId() const { return session_id_; }
    // Half-closes the server's sending side: the client reads end of stream.
    void ShutdownWrite();

  private:
    std::string ServerKexinit(const char* ciphers);
    void Agree(const std::string& client_payload, const std::string& server_payload,
               const char* ciphers);

    FakeSsh2End client_;
    FakeSsh2End server_;
    Key* host_key_ = nullptr;
    std::string session_id_;
};

// Gives `end` the socket `fd` and bounded hooks on it, in SSH-2 framing.
void FakeSsh2Attach(FakeSsh2End* end, int fd);

// The big-endian number at `offset` of a payload.
uint32_t WireGetU32(const std::string& bytes, std::size_t offset);
