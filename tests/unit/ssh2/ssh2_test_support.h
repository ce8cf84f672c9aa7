// Helpers of the SSH-2 unit tests: the raising fatal hook, and two packet
// contexts joined back to back in memory (no socket), so that a test plays
// the server with the same packet layer and inspects what the client sent.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "../ssh/ssh_test_support.h"
#include "base/exception.h"
#include "ssh/keys/dsa.h"
#include "ssh/keys/key.h"
#include "ssh/transport/packet.h"
#include "ssh/wire/buffer.h"
#include "ssh/wire/log.h"
#include "ssh/wire/xmalloc.h"

// Wire encodings built independently of the code under test (RFC 4251).
using Bytes = std::string;
inline Bytes U32(uint32_t v) {
    return BigEndian(v);
}
inline Bytes Str(const Bytes& s) {
    return SshString(s);
}

// The public-key blob of a DSA key.
inline Bytes DsaBlob(const Key* key) {
    unsigned char* blob = nullptr;
    uint32_t length = 0;
    EXPECT_NE(0u, dsa_key_to_blob(key, &blob, &length));
    Bytes result(reinterpret_cast<char*>(blob), length);
    xfree(blob);
    return result;
}

inline int DsaVerify(const Key* key, const Bytes& signature, const Bytes& data, int* word) {
    return dsa_verify(key, reinterpret_cast<const unsigned char*>(signature.data()),
                      static_cast<uint32_t>(signature.size()),
                      reinterpret_cast<const unsigned char*>(data.data()),
                      static_cast<uint32_t>(data.size()), word);
}

// The SSH tests' raising fatal hook per test.
using Ssh2Test = SshTest;

// One side of the in-memory link. The context comes first so that the hooks
// can find their side from the context pointer.
struct LinkEnd {
    PacketContext context{};
    std::string incoming;  // bytes the other side wrote, not yet read
    std::string* outgoing = nullptr;
};
static_assert(std::is_standard_layout_v<LinkEnd>);

inline void LinkWrite(PacketContext* context, const void* bytes, uint32_t n) {
    auto* end = reinterpret_cast<LinkEnd*>(context);
    end->outgoing->append(static_cast<const char*>(bytes), n);
}

// Runs dry like a closed socket: the packet layer then fails with its
// "Connection closed" message instead of waiting.
inline int LinkRead(PacketContext* context, void* buffer, uint32_t n) {
    auto* end = reinterpret_cast<LinkEnd*>(context);
    const uint32_t count = std::min<uint32_t>(n, static_cast<uint32_t>(end->incoming.size()));
    std::memcpy(buffer, end->incoming.data(), count);
    end->incoming.erase(0, count);
    return static_cast<int>(count);
}

// Client and server contexts in SSH-2 framing without keys.
struct Link {
    LinkEnd client;
    LinkEnd server;
    Link() {
        client.outgoing = &server.incoming;
        server.outgoing = &client.incoming;
        for (LinkEnd* end : {&client, &server}) {
            packet_set_io_hooks(&end->context, LinkWrite, LinkRead);
            end->context.compat20 = 1;
            packet_set_ssh2_format(&end->context);
        }
    }
    ~Link() {
        packet_free(&client.context);
        packet_free(&server.context);
    }
    PacketContext* Client() { return &client.context; }
    PacketContext* Server() { return &server.context; }
    void ServerSends(int type, const Bytes& payload = "") { SendPacket(Server(), type, payload); }
    // True while client bytes wait for the server side, in the link or
    // already taken into the server context's input buffer.
    bool ServerHasMessage() {
        return !server.incoming.empty() || buffer_len(&server.context.input) > 0;
    }
};
